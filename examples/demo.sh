#!/usr/bin/env bash
# The demonstration: runs the example programs against the built tree.
set -euo pipefail
build=${1:-build}
here=$(cd "$(dirname "$0")" && pwd)
zyl="$(cd "$build" && pwd)/stage/bin/bin.x86_64/zyl"
export ZYL_USER_DIR=${ZYL_USER_DIR:-$(mktemp -d)}
# The examples write their pictures into the current folder.
out=$(mktemp -d)
cd "$out"
echo "Output folder: $out"
for script in "$here"/*.zyl; do
  [ -e "$script" ] || continue
  echo "=== $(basename "$script")"
  "$zyl" "$script"
done

# The storage service: started in the foreground on a copy of the installation
# tree, sent sample files with DCMTK's storescu, then stopped.
echo "=== zyl_orvostorscp"
stage="$(cd "$(dirname "$zyl")/../.." && pwd)"
root="$out/installation"
mkdir -p "$root"
cp -r "$stage/resource" "$stage/bin" "$root/"
ZYL_DIR="$root" "$root/bin/bin.x86_64/zyl_orvostorscp" &
service=$!
trap 'kill $service 2>/dev/null || true' EXIT
samples=/usr/lib/python3/dist-packages/pydicom/data/test_files
for _ in $(seq 50); do
  if TCP_NODELAY=1 echoscu -aet ZYL_STOR_SCU -aec ZYL_STOR_SCP 127.0.0.1 11112 2>/dev/null; then break; fi
  sleep 0.1
done
TCP_NODELAY=1 storescu -aet ZYL_STOR_SCU -aec ZYL_STOR_SCP 127.0.0.1 11112 \
  "$samples/CT_small.dcm" "$samples/MR_small.dcm" "$samples/rtplan.dcm"
echo "stored:"
ls -l "$root/resource/orvo/storage"
kill -TERM $service
wait $service || true
trap - EXIT
echo "service log:"
cat "$root/resource/orvo/storscp1.log"
