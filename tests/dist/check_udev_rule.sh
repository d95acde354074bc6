#!/usr/bin/env bash
# The rules must be read before systemd turns uaccess tags into ACLs, give the seat's user and
# group plugdev access (read only to the recorder's disk, which the desktop does not mount), and
# never open the device to everyone.
set -euo pipefail
rule=$1
name=$(basename "$rule")
[[ "$name" < "73-seat-late.rules" ]] || { echo "$name sorts after 73-seat-late.rules"; exit 1; }
status=0
for want in 'ATTR{idVendor}=="4255"' 'TAG+="uaccess"' 'GROUP="plugdev"' 'MODE="0660"' \
  'SUBSYSTEM=="block", ATTRS{idVendor}=="4255", MODE="0640"' 'ENV{UDISKS_AUTO}="0"'; do
  grep -v '^#' "$rule" | grep -qF "$want" || { echo "the rule lacks $want"; status=1; }
done
# The last digit of a mode is what everyone else gets.
for mode in $(grep -v '^#' "$rule" | grep -Eo 'MODE *:?= *"[0-7]+"' | grep -Eo '[0-7]+'); do
  [[ $mode == *0 ]] || { echo "MODE=\"$mode\" opens the device to everyone"; status=1; }
done
exit $status
