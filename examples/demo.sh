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
