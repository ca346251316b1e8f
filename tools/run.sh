#!/usr/bin/env bash
# Builds voxrelay-sim and runs it in the foreground on the simulated board, with a private
# path root in the working tree (sim-root/) and the control port open (20001 unless
# --port says otherwise). Extra arguments go to the daemon. The simulator's test socket is
# sim-root/var/run/voxrelay-sim.sock; build-run/vx_lgcp_text converts control messages
# between value notation and PER (README, "Talking to it").
set -euo pipefail
cd "$(dirname "$0")/.."
tools/deps.sh run
# A build directory of its own, so that the developer's build/ keeps its configuration.
cmake -S . -B build-run -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVOXRELAY_TESTS=OFF -DVOXRELAY_BENCH=OFF >/dev/null
cmake --build build-run --target voxrelay-sim vx_lgcp_text -j "${JOBS:-$(nproc)}"
root=$PWD/sim-root
mkdir -p "$root/usr/local/etc" "$root/var/run" "$root/var/log" "$root/var/monitoring" "$root/dev/misc"
[ -f "$root/usr/local/etc/server.conf" ] || cp tools/server.conf.sample "$root/usr/local/etc/server.conf"
# The board's watchdog: on a development machine its pings go nowhere.
[ -e "$root/dev/misc/gw-wd" ] || ln -s /dev/null "$root/dev/misc/gw-wd"
export VOXRELAY_ROOT=$root
exec build-run/voxrelay-sim "$@"
