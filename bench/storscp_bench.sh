#!/usr/bin/env bash
# Ingest rate of the storage service against DCMTK's storescp.
#
#   bench/storscp_bench.sh [build folder] [object count] [runs per case]
#
# Sends <count> objects of 0.5 MB (512 x 512, 16 bits) with DCMTK's storescu,
# over one association and over six in parallel, to
#   - zyl_orvostorscp as built (each object flushed to disk before success),
#   - zyl_orvostorscp_noflush (the same service without the flushes),
#   - DCMTK's storescp (which does not flush), serving one association at a
#     time, and storescp --fork (a process per association),
# and prints files/s, MB/s and the receiver's CPU time per object (user +
# system, its reaped children included). With CALLGRIND=1 it also counts the
# instructions per object of each receiver under valgrind's callgrind (25
# objects less 5, over one association), for machines where perf has no
# hardware counters. Every DCMTK program runs with TCP_NODELAY=1. Not part of
# the test suite; run it by hand on a quiet machine. TARGETS="zyl_orvostorscp dcmtk_fork"
# measures some receivers only; ON_DISK=1 stops each clock only once the stored
# objects are on disk.
set -euo pipefail

SRC=$(cd "$(dirname "$0")/.." && pwd)
BUILD=${1:-$SRC/build-storscp}
COUNT=${2:-300}
REPEAT=${3:-3}   # runs of each case; the median is reported
PARALLEL=6
export TCP_NODELAY=1

# ZYL_BENCH_NO_BUILD=1 measures a build folder as it is (an older build, say).
[[ "${ZYL_BENCH_NO_BUILD:-0}" == 1 ]] || cmake --build "$BUILD" -j2 --target zyl_orvostorscp zyl_orvostorscp_noflush orvo_resources >/dev/null
PROGRAM_DIR=$BUILD/stage/bin/bin.x86_64

source "$SRC/bench/common.sh"
bench_workspace storscp_bench

# ---- objects ---------------------------------------------------------------
make_objects "$WORK/objects" "$COUNT" 512 512 1
BYTES=$(du -cb "$WORK"/objects/*.dcm | tail -1 | cut -f1)
mapfile -t FILES < <(ls "$WORK"/objects/*.dcm)

listening() {  # port
  local hex
  hex=$(printf ':%04X ' "$1")
  for _ in $(seq 1 300); do
    if grep -q "$hex" /proc/net/tcp /proc/net/tcp6 2>/dev/null; then return 0; fi
    sleep 0.05
  done
  return 1
}

# Sends the files (one association, or $PARALLEL in parallel); prints seconds.
send() {  # port parallel
  local start end
  start=$(date +%s.%N)
  if [[ "$2" == 1 ]]; then
    storescu -aet BENCH -aec ZYL_STOR_SCP 127.0.0.1 "$1" "${FILES[@]}" >/dev/null
  else
    local pids=() k
    for k in $(seq 0 $((PARALLEL - 1))); do
      local part=()
      for j in $(seq "$k" "$PARALLEL" $((COUNT - 1))); do part+=("${FILES[$j]}"); done
      storescu -aet BENCH -aec ZYL_STOR_SCP 127.0.0.1 "$1" "${part[@]}" >/dev/null &
      pids+=($!)
    done
    for k in "${pids[@]}"; do wait "$k"; done
  fi
  # ON_DISK=1 times until what was stored is on disk, for a receiver that
  # answers before its data is (storescp): the storage folder's file system
  # is synced before the clock stops.
  [[ "${ON_DISK:-0}" == 1 ]] && sync -f "$WORK"
  end=$(date +%s.%N)
  awk -v a="$start" -v b="$end" 'BEGIN { printf "%.3f\n", b - a }'
}

start_ours() {  # program port storage
  local root=$WORK/install
  rm -rf "$root" "$3"
  mkdir -p "$root/resource/orvo"
  cp "$BUILD"/stage/resource/orvo/* "$root/resource/orvo/" 2>/dev/null || true
  sed -e "s|<Port>11112</Port>|<Port>$2</Port>|g" -e "s|<StorScpDir>storage</StorScpDir>|<StorScpDir>$3</StorScpDir>|" \
      -e "s|<AcceptAny>no</AcceptAny>|<AcceptAny>yes</AcceptAny>|" "$SRC/resource/orvo/orvocfg.xml" \
      >"$root/resource/orvo/orvocfg.xml"
  ZYL_DIR=$root "$PROGRAM_DIR/$1" >/dev/null 2>&1 &
  BACKGROUND_PID=$!
  listening "$2"
}

start_dcmtk() {  # port storage [options]
  rm -rf "$2"
  mkdir -p "$2"
  storescp -aet ZYL_STOR_SCP -od "$2" ${3:-} "$1" >/dev/null 2>&1 &
  BACKGROUND_PID=$!
  listening "$1"
}

# CPU seconds (user + system, reaped children included) of the receiver so far.
cpu_seconds() {
  awk -v hz="$(getconf CLK_TCK)" '{ print ($14 + $15 + $16 + $17) / hz }' "/proc/$BACKGROUND_PID/stat"
}

report() {  # name parallel seconds storage cpu-seconds
  local stored
  stored=$(find "$4" -maxdepth 1 -type f | wc -l)
  awk -v name="$1" -v par="$2" -v s="$3" -v n="$COUNT" -v b="$BYTES" -v st="$stored" -v cpu="$5" \
    'BEGIN { printf "%-24s %4s %8.2f s %8.1f files/s %8.1f MB/s %7.2f ms CPU/object  (%d stored)\n", name, par, s, n / s, b / 1e6 / s, cpu * 1000 / n, st }'
}

echo "objects: $COUNT, $((BYTES / COUNT)) bytes each; storage in $WORK"

for parallel in 1 $PARALLEL; do
  for target in ${TARGETS:-zyl_orvostorscp zyl_orvostorscp_noflush dcmtk dcmtk_fork}; do
    times=()
    cpus=()
    for _ in $(seq 1 "$REPEAT"); do
      p=$(free_port)
      storage=$WORK/storage_$target
      case $target in
        dcmtk) start_dcmtk "$p" "$storage" ;;
        dcmtk_fork) start_dcmtk "$p" "$storage" --fork ;;
        *) start_ours "$target" "$p" "$storage" ;;
      esac
      times+=("$(send "$p" "$parallel" 2>/dev/null)")
      sleep 0.3  # forked receivers are reaped
      cpus+=("$(cpu_seconds)")
      stop_background
    done
    secs=$(printf '%s\n' "${times[@]}" | median)
    cpu=$(printf '%s\n' "${cpus[@]}" | median)
    label=$target
    [[ $target == dcmtk ]] && label="DCMTK storescp"
    [[ $target == dcmtk_fork ]] && label="DCMTK storescp --fork"
    report "$label" "x$parallel" "$secs" "$storage" "$cpu"
  done
done

[[ "${CALLGRIND:-0}" == 1 ]] || exit 0

# Instructions of a receiver under callgrind after <n> objects over one association.
instructions() {  # target n
  local p out=$WORK/callgrind.out storage=$WORK/storage_callgrind
  p=$(free_port)
  rm -f "$out"*
  case $1 in
    zyl_orvostorscp)
      start_ours "$1" "$p" "$storage"
      kill "$BACKGROUND_PID"; wait "$BACKGROUND_PID" 2>/dev/null || true
      ZYL_DIR=$WORK/install valgrind --tool=callgrind --callgrind-out-file="$out" "$PROGRAM_DIR/$1" >/dev/null 2>&1 &
      BACKGROUND_PID=$! ;;
    *)
      rm -rf "$storage"; mkdir -p "$storage"
      # shellcheck disable=SC2086
      valgrind --tool=callgrind --callgrind-out-file="$out" storescp -aet ZYL_STOR_SCP -od "$storage" $1 "$p" >/dev/null 2>&1 &
      BACKGROUND_PID=$! ;;
  esac
  listening "$p" || sleep 5
  storescu -aet BENCH -aec ZYL_STOR_SCP 127.0.0.1 "$p" "${FILES[@]:0:$2}" >/dev/null
  stop_background
  grep -h '^summary:' "$out"* | awk '{ s += $2 } END { print s }'
}

for target in zyl_orvostorscp "--bit-preserving" "--normal"; do
  few=$(instructions "$target" 5)
  many=$(instructions "$target" 25)
  label=$target
  [[ $target == --* ]] && label="DCMTK storescp $target"
  awk -v name="$label" -v a="$few" -v b="$many" 'BEGIN { printf "%-34s %6.2f M instructions per object (callgrind)\n", name, (b - a) / 20 / 1e6 }'
done
