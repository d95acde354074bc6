#!/usr/bin/env bash
# Installs the build to a prefix other than the configured one, into a staging folder, and
# checks that every file lands under that prefix, or in the absolute folder it was given.
# Usage: check_install.sh BUILD_DIR UDEV_RULES_DIR BASH_COMPLETION_DIR SYSTEMD_UNIT_DIR GUI(ON|OFF)
set -euo pipefail
build=$1
udev_rules=$2
completions=$3
units=$4
gui=$5
stage=$(mktemp -d)
trap 'rm -rf "$stage"' EXIT
prefix=/opt/kbc-install-test

under_prefix() { [[ $1 == /* ]] && echo "$1" || echo "$prefix/$1"; }

DESTDIR=$stage cmake --install "$build" --prefix "$prefix" >"$stage/log" 2>&1 ||
  { cat "$stage/log"; exit 1; }

want=(
  "$prefix/bin/kbcctl"
  "$prefix/share/man/man1/kbcctl.1"
  "$prefix/share/metainfo/io.github.kbcq7.kbcctl.metainfo.xml"
  "$(under_prefix "$completions")/kbcctl"
  "$(under_prefix "$udev_rules")/60-kbc-q7.rules"
  "$(under_prefix "$units")/kbcctl-prune.service"
  "$(under_prefix "$units")/kbcctl-station.service"
  "$(under_prefix "$units")/kbcctl-upload.service"
  "$(under_prefix "$units")/kbcctl-upload.timer"
  "$prefix/lib/sysusers.d/kbcctl.conf"
  "$prefix/lib/tmpfiles.d/kbcctl.conf"
)
if [[ $gui == ON ]]; then
  want+=(
    "$prefix/bin/kbc-q7"
    "$prefix/share/man/man1/kbc-q7.1"
    "$prefix/share/applications/io.github.kbcq7.KbcQ7.desktop"
    "$prefix/share/metainfo/io.github.kbcq7.KbcQ7.metainfo.xml"
    "$prefix/share/icons/hicolor/scalable/apps/io.github.kbcq7.KbcQ7.svg"
  )
fi
got=$(cd "$stage" && find . -type f ! -name log | sed 's/^\.//' | sort)
expected=$(printf '%s\n' "${want[@]}" | sort)
if [[ $got != "$expected" ]]; then
  echo "installed files differ from the expected ones:"
  diff <(echo "$expected") <(echo "$got") || true
  exit 1
fi
# The manual pages carry the version, not the placeholder.
if grep -l '@PROJECT_VERSION@' "$stage$prefix"/share/man/man1/*; then
  echo "a manual page still has its placeholder"
  exit 1
fi
# The service starts the kbcctl this install put in place, and systemd takes both units.
service="$stage$(under_prefix "$units")/kbcctl-upload.service"
grep -qx "ExecStart=$prefix/bin/kbcctl upload" "$service" ||
  { echo "the service does not start $prefix/bin/kbcctl: $(grep ExecStart "$service")"; exit 1; }
mkdir "$stage/units"
sed "s|^ExecStart=|ExecStart=$stage|" "$service" >"$stage/units/kbcctl-upload.service"
sed "s|^ExecStart=-|ExecStart=-$stage|" "$stage$(under_prefix "$units")/kbcctl-prune.service" \
  >"$stage/units/kbcctl-prune.service"
sed "s|^ExecStart=|ExecStart=$stage|" "$stage$(under_prefix "$units")/kbcctl-station.service" \
  >"$stage/units/kbcctl-station.service"
cp "$stage$(under_prefix "$units")/kbcctl-upload.timer" "$stage/units/"
systemd-analyze verify --man=no "$stage/units/kbcctl-upload.service" \
  "$stage/units/kbcctl-prune.service" "$stage/units/kbcctl-station.service" \
  "$stage/units/kbcctl-upload.timer"
