#!/usr/bin/env bash
# Builds Tirvane (Release, in build-run) and starts the monitor.
#
#   scripts/run.sh          installs what is missing, builds, starts the monitor
#   scripts/run.sh --demo   the same, plus the router simulator on loopback:
#                           simulator and monitor share a private network
#                           namespace that has nothing but loopback, so the
#                           demo cannot reach a real network, and port 23 can
#                           be bound there without root. The monitor is told
#                           the simulator's address and password and plots at
#                           once: bars within seconds, nothing to type.
#   --prebuilt DIR          use the programs already built in DIR instead:
#                           nothing is installed, configured or built.
#
# The window still reaches the desktop from inside the namespace: the X
# server's socket in /tmp/.X11-unix and a Wayland socket in XDG_RUNTIME_DIR
# are files, which every network namespace can open.
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
build="$root/build-run"
demo=0
prebuilt=
demo_host=127.0.0.1
demo_password=1234

usage() {
  echo "usage: scripts/run.sh [--demo] [--prebuilt DIR]"
  echo "  --demo          also run the router simulator on $demo_host, in a private network"
  echo "                  namespace, and have the monitor plot it at once"
  echo "  --prebuilt DIR  use the programs already built in DIR; install and build nothing"
}

while [ $# -gt 0 ]; do
  case "$1" in
    --demo) demo=1 ;;
    --prebuilt)
      [ $# -ge 2 ] || { usage >&2; exit 2; }
      prebuilt=$2
      shift
      ;;
    -h|--help) usage; exit 0 ;;
    *) usage >&2; exit 2 ;;
  esac
  shift
done

if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
  echo "run.sh: no desktop session (neither DISPLAY nor WAYLAND_DISPLAY is set)" >&2
  exit 1
fi

if [ -n "$prebuilt" ]; then
  if [ ! -d "$prebuilt" ]; then
    echo "run.sh: no build folder $prebuilt" >&2
    exit 1
  fi
  build=$(cd "$prebuilt" && pwd)
else
  bash "$root/scripts/install_deps.sh"

  targets=(tirvane)
  [ "$demo" -eq 1 ] && targets+=(tirvane_router_sim)

  cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release \
    -DBUILD_TESTING=OFF -DTIRVANE_BENCH=OFF >/dev/null
  cmake --build "$build" --target "${targets[@]}"
fi

# The one executable of that name in the build tree.
find_program_file() {
  find "$build" -type f -name "$1" -perm -u+x -not -path '*/CMakeFiles/*' | head -n 1
}

monitor=$(find_program_file tirvane)
if [ -z "$monitor" ]; then
  echo "run.sh: the build produced no tirvane program" >&2
  exit 1
fi

if [ "$demo" -eq 0 ]; then
  exec "$monitor"
fi

simulator=$(find_program_file tirvane-router-sim)
if [ -z "$simulator" ]; then
  echo "run.sh: the build produced no tirvane-router-sim program" >&2
  exit 1
fi

# A display reached over TCP (a remote X session, "host:N") is outside the
# namespace; only a local display works there.
if [ -z "${WAYLAND_DISPLAY:-}" ]; then
  case "$DISPLAY" in
    :*|unix:*) ;;
    *)
      echo "run.sh: the demo needs a local display (DISPLAY=:N); DISPLAY is '$DISPLAY'" >&2
      exit 1
      ;;
  esac
fi

# Inside the namespace: loopback up, the simulator on port 23, then the
# monitor; the simulator goes when the monitor closes. The monitor runs in
# the background and the shell waits for it, because a shell runs its traps
# only between commands: with the monitor in the foreground, a TERM, INT or
# HUP sent to the script would wait for the window to close. Whatever ends
# the shell takes both programs and the scratch folders with it.
# The demo's monitor keeps its settings (and anything else it stores) in a
# folder of its own that goes with it, so the simulator's address never
# replaces the router address the user's own monitor remembers.
inner='
set -eu
ip link set lo up
sim=
monitor=
log=$(mktemp)
home=$(mktemp -d)
stop_all() {
  for pid in $monitor $sim; do kill "$pid" 2>/dev/null || true; done
  for pid in $monitor $sim; do wait "$pid" 2>/dev/null || true; done
  rm -f "$log"
  rm -rf "$home"
}
trap stop_all EXIT
trap "exit 129" HUP
trap "exit 130" INT
trap "exit 143" TERM
"$SIMULATOR" --address "$DEMO_HOST" --port 23 --password "$DEMO_PASSWORD" >"$log" 2>&1 &
sim=$!
ready=0
for _ in $(seq 1 100); do
  if grep -q "listening on" "$log"; then ready=1; break; fi
  if ! kill -0 "$sim" 2>/dev/null; then break; fi
  sleep 0.1
done
if [ "$ready" -ne 1 ]; then
  echo "run.sh: the router simulator did not start:" >&2
  cat "$log" >&2
  exit 1
fi
echo "The router simulator is $(grep -m1 "listening on" "$log"); the monitor plots it every 60 seconds."
XDG_CONFIG_HOME="$home/config" XDG_DATA_HOME="$home/data" TIRVANE_PASSWORD="$DEMO_PASSWORD" \
  "$MONITOR" --host "$DEMO_HOST" --plot &
monitor=$!
status=0
wait "$monitor" || status=$?
monitor=
exit "$status"
'

flags=-n
[ "$(id -u)" -eq 0 ] || flags=-rn
export SIMULATOR="$simulator" MONITOR="$monitor" DEMO_HOST="$demo_host" DEMO_PASSWORD="$demo_password"
if ! unshare "$flags" -- true 2>/dev/null; then
  echo "run.sh: cannot make a private network namespace (unshare $flags failed);" >&2
  echo "        user namespaces may be switched off on this machine." >&2
  exit 1
fi
exec unshare "$flags" -- sh -c "$inner"
