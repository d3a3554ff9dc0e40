#!/usr/bin/env bash
# Checks that the C++ sources follow .clang-format; with --fix, formats them.
#   scripts/check_format.sh [--fix]
set -euo pipefail
cd "$(dirname "$0")/.."
mapfile -t files < <(find bench config examples fileobject module netconfig platform query storscp storscu tests \
  -type f \( -name '*.cpp' -o -name '*.h' -o -name '*.c' \) 2>/dev/null | sort)
if [[ "${1:-}" == --fix ]]; then
  clang-format -i "${files[@]}"
else
  clang-format --dry-run --Werror "${files[@]}"
fi
