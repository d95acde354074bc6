#!/usr/bin/env bash
# The rule must be read before systemd turns uaccess tags into ACLs, and never open the device
# to everyone.
set -euo pipefail
rule=$1
name=$(basename "$rule")
[[ "$name" < "73-seat-late.rules" ]] || { echo "$name sorts after 73-seat-late.rules"; exit 1; }
grep -q 'ATTR{idVendor}=="4255"' "$rule" || { echo "the rule does not match the recorder"; exit 1; }
grep -q 'TAG+="uaccess"' "$rule" || { echo "the rule does not tag uaccess"; exit 1; }
if grep -Eq 'MODE *= *"?0?[0-7][0-7][2367]' "$rule"; then
  echo "the rule makes the device world-writable"
  exit 1
fi
