#!/usr/bin/env bash
# Builds Tirvane (Release, in build-run) and starts the monitor.
#
#   scripts/run.sh          installs what is missing, builds, starts the monitor
#   scripts/run.sh --demo   the same, plus the router simulator on loopback:
#                           simulator and monitor share a private network
#                           namespace that has nothing but loopback, so the
#                           demo cannot reach a real network, and port 23 can
#                           be bound there without root.
#
# The window still reaches the desktop from inside the namespace: the X
# server's socket in /tmp/.X11-unix and a Wayland socket in XDG_RUNTIME_DIR
# are files, which every network namespace can open.
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
build="$root/build-run"
demo=0
demo_host=127.0.0.1
demo_password=1234

usage() {
  echo "usage: scripts/run.sh [--demo]"
  echo "  --demo  also run the router simulator on $demo_host, in a private network namespace"
}

for arg in "$@"; do
  case "$arg" in
    --demo) demo=1 ;;
    -h|--help) usage; exit 0 ;;
    *) usage >&2; exit 2 ;;
  esac
done

if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
  echo "run.sh: no desktop session (neither DISPLAY nor WAYLAND_DISPLAY is set)" >&2
  exit 1
fi

bash "$root/scripts/install_deps.sh"

targets=(tirvane)
[ "$demo" -eq 1 ] && targets+=(tirvane_router_sim)

cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release \
  -DBUILD_TESTING=OFF -DTIRVANE_BENCH=OFF >/dev/null
cmake --build "$build" --target "${targets[@]}"

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
# monitor in the foreground; the simulator goes when the monitor closes.
inner='
set -eu
ip link set lo up
log=$(mktemp)
"$SIMULATOR" --address "$DEMO_HOST" --port 23 --password "$DEMO_PASSWORD" >"$log" 2>&1 &
sim=$!
trap "kill $sim 2>/dev/null; wait $sim 2>/dev/null; rm -f $log" EXIT
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
echo "The router simulator is $(grep -m1 "listening on" "$log")."
echo "In the monitor: set Host to $DEMO_HOST (replace 192.168.1.1), leave Username empty,"
echo "type the Password $DEMO_PASSWORD, keep the Prompt >, and press Plot."
"$MONITOR"
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
