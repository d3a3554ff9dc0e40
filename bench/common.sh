# Sourced by the benchmark scripts: what they share, and the objects of objects.sh.
#
# bench_workspace <name>: WORK becomes a new folder /tmp/<name>_XXXXXX; when
#   the script exits, the program whose pid is in BACKGROUND_PID is stopped
#   and WORK is removed.
# stop_background: stops that program now.
# free_port: a loopback port nobody listens on.
# median: the median of the numbers read, one a line.
source "$(dirname "${BASH_SOURCE[0]}")/objects.sh"

BACKGROUND_PID=
stop_background() {
  if [[ -n "$BACKGROUND_PID" ]]; then
    kill "$BACKGROUND_PID" 2>/dev/null || true
    wait "$BACKGROUND_PID" 2>/dev/null || true
  fi
  BACKGROUND_PID=
}

bench_workspace() {
  WORK=$(mktemp -d "/tmp/$1_XXXXXX")
  trap 'stop_background; rm -rf "$WORK"' EXIT
}

free_port() { python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])'; }

median() { sort -g | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }
