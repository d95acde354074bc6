#!/bin/bash
# station_benchmark.sh BUILD IMAGE N: N emulated recorders on one bus, each switching to a disk
# holding IMAGE (a FAT32 image; 200 MB or more of recordings for the figures in the README), taken
# through `kbcctl station --once` into a fresh store, while the drawer view follows on an X server
# of its own. Prints the exit, the recorders verified, kbcctl's wall time, CPU and peak memory,
# the bytes stored, and the view's longest stall. Run by hand, as root for the cold cache; the
# state folder lives on /dev/shm as /run does. umockdev's netlink emulation gives up on a burst of
# events at the default net.unix.max_dgram_qlen of 10: raise it first (sysctl -w
# net.unix.max_dgram_qlen=512).
set -u
build=$(realpath "$1") image=$(realpath "$2") n=$3
work=$(mktemp -d) state=$(mktemp -d /dev/shm/kbc-station-XXXXXX)
trap 'rm -rf "$work" "$state"; [ -n "${xv:-}" ] && kill "$xv" 2>/dev/null' EXIT
layout=$(printf 'recorder,%.0s' $(seq 1 "$n")); layout=${layout%,}
printf 'default = "888888"\n' >"$work/keys.toml"
chmod 600 "$work/keys.toml"
printf 'store = "%s"\ndisk-timeout = "60s"\nrecorder-keys = "%s"\n' "$work/store" "$work/keys.toml" \
  >"$work/station.toml"
if [ "$(id -u)" -eq 0 ]; then
  sync
  echo 3 >/proc/sys/vm/drop_caches
fi
Xvfb :97 -screen 0 1400x1000x24 -nolisten tcp 2>/dev/null &
xv=$!
sleep 1
DISPLAY=:97 QT_QPA_PLATFORM=xcb "$build/tests/app/kbc_drawer_benchmark" "$state/station" \
  >"$work/drawer.txt" 2>/dev/null &
view=$!
umockdev-wrapper "$build/tests/emulated/kbc-emulated-bus" --bus "$layout" --disk "$image" -- \
  /usr/bin/time -f "kbcctl: %e s wall, %U s user, %S s sys, peak RSS %M KiB" \
  env KBC_STATION_FILE="$work/station.toml" KBC_STATION_STATE="$state/station" \
  "$build/cli/kbcctl" station --once >"$work/out.txt" 2>"$work/err.txt"
status=$?
wait "$view"
echo "$n recorders: exit $status, $(grep -c 已验证 "$work/out.txt") verified"
grep '^kbcctl:' "$work/err.txt"
echo "stored: $(du -sb "$work/store" | cut -f1) bytes"
cat "$work/drawer.txt"
