#!/usr/bin/env bash
# Send through a zyl script against DCMTK's storescu, side by side.
#
#   bench/send_bench.sh [build folder] [runs per case]
#
# Two sets: 200 distinct 0.5 MB objects and 20 distinct 50 MB objects, each
# sent over one association to DCMTK's `storescp --ignore` (received, not
# written), by `storescu` and by ZYLffOrvoStorScu.Send from `zyl`. Both are
# timed as whole programs (start-up included). Every DCMTK program runs with
# TCP_NODELAY=1. Prints files/s, MB/s and the ratio Send / storescu (median of
# the runs). Not part of the test suite.
set -euo pipefail

SRC=$(cd "$(dirname "$0")/.." && pwd)
BUILD=${1:-$SRC/build}
REPEAT=${2:-3}
export TCP_NODELAY=1
ZYL=$BUILD/stage/bin/bin.x86_64/zyl

source "$SRC/bench/common.sh"
bench_workspace send_bench
make_objects "$WORK/small" 200 512 512 1
make_objects "$WORK/large" 20 512 512 100

PORT=$(free_port)
storescp --ignore -aet STORESCP "$PORT" >/dev/null 2>&1 &
BACKGROUND_PID=$!
sleep 1

export ZYL_USER_DIR=$WORK/user
cat >"$WORK/setup.zyl" <<ZYL
cfg = new ZYLffOrvoCfg()
cfg.SetApplicationEntity("BENCH", "STORESCP", "127.0.0.1", $PORT, "Storage_SCU_Service_List", "STORAGE_SCP")
cfg.Commit()
destroy(cfg)
ZYL
"$ZYL" "$WORK/setup.zyl"
cat >"$WORK/send.zyl" <<'ZYL'
func quiet(message) { return 1 }
scu = new ZYLffOrvoStorScu()
scu.SetProperty(STORAGE_SCP="BENCH", CALLBACK_FUNCTION="quiet")
sent = scu.Send(args)
if sent != len(args) { print("sent", sent, "of", len(args)); exit(1) }
ZYL

seconds() { local start end; start=$(date +%s.%N); "$@" >/dev/null; end=$(date +%s.%N); echo "$end - $start" | awk '{print $1 - $3}'; }

for set in small large; do
  mapfile -t FILES < <(ls "$WORK/$set"/*.dcm)
  bytes=$(du -cb "${FILES[@]}" | tail -1 | cut -f1)
  : >"$WORK/dcmtk.times"; : >"$WORK/zyl.times"
  for _ in $(seq 1 "$REPEAT"); do
    seconds storescu -aec STORESCP 127.0.0.1 "$PORT" "${FILES[@]}" >>"$WORK/dcmtk.times"
    seconds "$ZYL" "$WORK/send.zyl" "${FILES[@]}" >>"$WORK/zyl.times"
  done
  d=$(median <"$WORK/dcmtk.times"); z=$(median <"$WORK/zyl.times")
  awk -v set="$set" -v n="${#FILES[@]}" -v b="$bytes" -v d="$d" -v z="$z" 'BEGIN {
    printf "%-6s %3d files %7.1f MB | storescu %6.2f s %7.1f files/s %7.1f MB/s | Send %6.2f s %7.1f files/s %7.1f MB/s | Send rate / storescu rate %.2f\n",
      set, n, b / 1e6, d, n / d, b / 1e6 / d, z, n / z, b / 1e6 / z, d / z }'
done
