#!/usr/bin/env bash
# Builds the libFuzzer targets with clang under ASan and UBSan, and runs them
# over their corpora (seeded from the repository's and pydicom's test files).
#   run_fuzzers.sh build <source dir> <fuzz build dir>
#   run_fuzzers.sh run <source dir> <fuzz build dir> <seconds per target> [target...]
# Exits 77 (skipped) where clang with libFuzzer is not installed.
set -euo pipefail
mode=$1 src=$(cd "$2" && pwd) out=$3
mkdir -p "$out"
out=$(cd "$out" && pwd)
targets_all=(fuzz_file_reader fuzz_stream_reader fuzz_data_set_scan fuzz_config_loader fuzz_zyl_parser)
pydicom_files=/usr/lib/python3/dist-packages/pydicom/data/test_files

cxx=$(command -v clang++-14 || command -v clang++ || true)
cc=$(command -v clang-14 || command -v clang || true)
if [ -z "$cxx" ] || [ -z "$cc" ] ||
   ! echo 'extern "C" int LLVMFuzzerTestOneInput(const unsigned char*, unsigned long) { return 0; }' |
     "$cxx" -x c++ -fsanitize=fuzzer,address,undefined - -o "$out/.probe" 2>/dev/null; then
  echo "clang with libFuzzer is not installed: fuzzing skipped"
  exit 77
fi

build() {
  local launcher=()
  command -v ccache >/dev/null && launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache -DCMAKE_C_COMPILER_LAUNCHER=ccache)
  cmake -S "$src" -B "$out" -DZYL_FUZZ=ON -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DCMAKE_C_COMPILER="$cc" -DCMAKE_CXX_COMPILER="$cxx" "${launcher[@]}" >/dev/null
  nice cmake --build "$out" --target fuzzers -j "$(nproc)"
}

# Seeds: each target's input format around the test files.
seed() {
  local target=$1 dir=$out/seeds/$target
  [ -d "$dir" ] && return
  mkdir -p "$dir"
  case $target in
    fuzz_file_reader)
      # Byte 0 bit 0: up to the pixels; bytes 1-2: piece sizes.
      for f in "$pydicom_files"/*.dcm "$src"/tests/*/data/*.dcm; do
        [ -f "$f" ] && [ "$(stat -c %s "$f")" -le 262144 ] || continue
        { printf '\x00\x10\x0f'; cat "$f"; } >"$dir/$(basename "$f")"
        # The same by path, values over 64 bytes left in the file.
        { printf '\x0a\x10\x0f'; cat "$f"; } >"$dir/$(basename "$f")-path"
      done ;;
    fuzz_stream_reader | fuzz_data_set_scan)
      # Byte 0: the data set's syntax (the target's own numbering); byte 1: fragment size;
      # then the data set after the meta group.
      python3 - "$dir" "$pydicom_files" "$target" <<'PY'
import os, struct, sys
out, folder, target = sys.argv[1:4]
if target == "fuzz_stream_reader":
    # implicit/explicit LE, explicit BE, deflated, JPEG Baseline, JPEG Lossless, JPEG 2000, RLE
    uids = ["1.2.840.10008.1.2", "1.2.840.10008.1.2.1", "1.2.840.10008.1.2.2", "1.2.840.10008.1.2.1.99",
            "1.2.840.10008.1.2.4.50", "1.2.840.10008.1.2.4.70", "1.2.840.10008.1.2.4.90", "1.2.840.10008.1.2.5"]
    syntaxes = {uid.encode(): i for i, uid in enumerate(uids)}
    fragments = {"": 0x80}
else:
    # implicit LE, explicit LE, explicit BE, any encapsulated one
    syntaxes = {b"1.2.840.10008.1.2": 0, b"1.2.840.10008.1.2.1": 1, b"1.2.840.10008.1.2.2": 2}
    for uid in ("4.50", "4.51", "4.57", "4.70", "4.80", "4.81", "4.90", "4.91", "5"):
        syntaxes[b"1.2.840.10008.1.2." + uid.encode()] = 3
    fragments = {"-0": 0x00, "-13": 0x0d}
for name in sorted(os.listdir(folder)):
    path = os.path.join(folder, name)
    if not name.endswith(".dcm") or os.path.getsize(path) > 262144:
        continue
    data = open(path, "rb").read()
    if data[128:132] != b"DICM" or data[132:138] != b"\x02\x00\x00\x00UL":
        continue
    end = 144 + struct.unpack("<I", data[140:144])[0]
    meta = data[132:end]
    index = next((i for uid, i in syntaxes.items() if uid + b"\x00" in meta or uid + b" " in meta
                  or meta.endswith(uid)), None)
    if index is None:
        continue
    for suffix, fragment in fragments.items():
        open(os.path.join(out, name + suffix), "wb").write(bytes([index, fragment]) + data[end:])
PY
      ;;
    fuzz_config_loader)
      find "$src/resource" "$src/tests" -name '*.xml' -size -256k -exec cp {} "$dir" \; ;;
    fuzz_zyl_parser)
      find "$src/examples" "$src/tests" -name '*.zyl' -exec cp {} "$dir" \; ;;
  esac
}

run() {
  local seconds=$1 target status=0
  shift
  local targets=("$@")
  [ ${#targets[@]} -eq 0 ] && targets=("${targets_all[@]}")
  for target in "${targets[@]}"; do
    [ -x "$out/fuzz/$target" ] || build
    seed "$target"
    mkdir -p "$out/corpus/$target" "$out/findings"
    echo "== $target: $seconds s"
    # The toolkit accepts values up to 1 GiB, so one input may reserve that much.
    local repeatable=()
    [ -n "${FUZZ_SEED:-}" ] && repeatable+=(-seed="$FUZZ_SEED")
    [ -n "${FUZZ_RUNS:-}" ] && repeatable+=(-runs="$FUZZ_RUNS")
    if ! "$out/fuzz/$target" "${repeatable[@]}" -max_total_time="$seconds" -timeout=30 -rss_limit_mb=4096 -print_final_stats=1 \
         -artifact_prefix="$out/findings/$target-" "$out/corpus/$target" "$out/seeds/$target" \
         >"$out/$target.log" 2>&1; then
      status=1
      echo "$target found a fault:"
      grep -E "ERROR|SUMMARY|Test unit written|runtime error" "$out/$target.log" | head -20
    fi
    grep -E "^stat::number_of_executed_units|^stat::peak_rss_mb|cov: .*corp:" "$out/$target.log" | tail -3
  done
  return $status
}

case $mode in
  build) build ;;
  run) shift 3; run "$@" ;;
  *) echo "usage: $0 build|run <source> <fuzz build> [seconds] [target...]" >&2; exit 2 ;;
esac
