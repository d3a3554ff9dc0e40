#!/usr/bin/env bash
# The storage service's soak at full size: six senders of 1000 objects each
# while a seventh sends 1000 unreadable or aborted stores; every good object
# must arrive intact and the service's descriptors, threads and memory return
# to their level. Usage: bench/storscp_soak.sh [build folder] [objects per sender]
set -euo pipefail
build=${1:-build}
objects=${2:-1000}
SECONDS=0
ZYL_SOAK_OBJECTS=$objects "$build/tests/bin/storscp_service_test" --gtest_filter='Hostile.Soak*'
echo "soak of 7 x $objects stores: ${SECONDS} s"
