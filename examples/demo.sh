#!/usr/bin/env bash
# The demonstration: runs the example programs against the built tree.
set -euo pipefail
build=${1:-build}
here=$(cd "$(dirname "$0")" && pwd)
zyl="$build/stage/bin/bin.x86_64/zyl"
export ZYL_USER_DIR=${ZYL_USER_DIR:-$(mktemp -d)}
for script in "$here"/*.zyl; do
  [ -e "$script" ] || continue
  echo "=== $(basename "$script")"
  "$zyl" "$script"
done
