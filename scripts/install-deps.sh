#!/usr/bin/env bash
# Installs the Debian packages the build, the tests and the demonstration need,
# only those that are missing. Runs as root (or through sudo when available).
set -euo pipefail

packages=(
  cmake g++ make pkg-config
  libdcmtk-dev dcmtk
  libopenjp2-7-dev
  libxerces-c-dev
  libgtest-dev libgmock-dev libbenchmark-dev
  libedit-dev libpng-dev
  python3 python3-pydicom python3-numpy python3-gdcm python3-pil
  libgdcm-tools libopenjp2-tools
  clang-14 libclang-rt-14-dev  # libFuzzer targets (tests/fuzz)
  haproxy  # storage service instances behind a TCP load balancer (tests/storscp)
  clang-format  # the sources' one style (scripts/check_format.sh)
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "Installing missing packages: ${missing[*]}"
sudo_cmd=()
if [ "$(id -u)" -ne 0 ]; then
  if command -v sudo >/dev/null 2>&1; then sudo_cmd=(sudo); else
    echo "error: packages missing (${missing[*]}) and not running as root" >&2; exit 1
  fi
fi
export DEBIAN_FRONTEND=noninteractive
"${sudo_cmd[@]}" apt-get update -qq
"${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
