#!/usr/bin/env bash
# Checks the Debian packages dpkg-buildpackage left in DIR: what each installs, that kbcctl
# needs no Qt, that no dependency is named twice, and that the binaries are stripped, with
# their symbols in the -dbgsym packages.
# Usage: check_packages.sh DIR
set -euo pipefail
dir=$1
status=0
fail() {
  echo "$*"
  status=1
}

deb_of() {
  local found=("$dir/$1"_*.deb)
  [[ -f ${found[0]} ]] || { echo "no package $1 in $dir" >&2; exit 1; }
  echo "${found[0]}"
}

# The files a package installs, less its documentation folder.
files_of() {
  dpkg-deb --fsys-tarfile "$1" | tar -t | sed 's|^\./|/|; /\/$/d' |
    grep -v "^/usr/share/doc/" | sort
}

check_files() {
  local package=$1 got want
  shift
  got=$(files_of "$(deb_of "$package")")
  want=$(printf '%s\n' "$@" | sort)
  [[ $got == "$want" ]] || fail "$package installs other files than expected:
$(diff <(echo "$want") <(echo "$got"))"
}

# The package names of a Depends field, alternatives included.
names_in() {
  tr ',|' '\n\n' <<<"$1" | sed -E 's/^ +//; s/[ (:].*//' | sed '/^$/d'
}

depends_of() { dpkg-deb -f "$(deb_of "$1")" Depends; }

udev_rules=$(pkg-config --variable=udevdir udev)/rules.d
units=$(pkg-config --variable=systemdsystemunitdir systemd)
check_files kbcctl \
  /usr/bin/kbcctl \
  "$units/kbcctl-prune.service" \
  "$units/kbcctl-station.service" \
  "$units/kbcctl-upload.service" \
  "$units/kbcctl-upload.timer" \
  /usr/lib/sysusers.d/kbcctl.conf \
  /usr/lib/tmpfiles.d/kbcctl.conf \
  /usr/share/man/man1/kbcctl.1.gz \
  /usr/share/bash-completion/completions/kbcctl \
  /usr/share/metainfo/io.github.kbcq7.kbcctl.metainfo.xml \
  /usr/share/lintian/overrides/kbcctl \
  "$udev_rules/60-kbc-q7.rules"
check_files kbc-q7 \
  /usr/bin/kbc-q7 \
  /usr/share/man/man1/kbc-q7.1.gz \
  /usr/share/applications/io.github.kbcq7.KbcQ7.desktop \
  /usr/share/metainfo/io.github.kbcq7.KbcQ7.metainfo.xml \
  /usr/share/icons/hicolor/scalable/apps/io.github.kbcq7.KbcQ7.svg \
  /usr/share/lintian/overrides/kbc-q7

for package in kbcctl kbc-q7; do
  depends=$(depends_of $package)
  twice=$(names_in "$depends" | sort | uniq -d)
  [[ -z $twice ]] || fail "$package names $twice twice: $depends"
done

# kbcctl is for headless stations: libusb 0.1, libsystemd and the C++ runtime, nothing of Qt or
# fonts.
kbcctl_depends=$(names_in "$(depends_of kbcctl)")
grep -qx libusb-0.1-4 <<<"$kbcctl_depends" || fail "kbcctl does not depend on libusb-0.1-4"
# The audit trail goes to the system journal through libsystemd.
grep -qx libsystemd0 <<<"$kbcctl_depends" || fail "kbcctl does not depend on libsystemd0"
# An offload reads the recorder's disk with The Sleuth Kit and hashes with OpenSSL's libcrypto;
# an upload goes through libcurl.
for want in libtsk19 libssl3 libcurl4; do
  grep -qx $want <<<"$kbcctl_depends" || fail "kbcctl does not depend on $want"
done
if grep -E '^(libqt|qt6|fonts-)' <<<"$kbcctl_depends"; then
  fail "kbcctl depends on Qt or fonts"
fi
version=$(dpkg-deb -f "$(deb_of kbcctl)" Version)
grep -qF "kbcctl (= $version)" <<<"$(depends_of kbc-q7)" ||
  fail "kbc-q7 does not depend on kbcctl (= $version): $(depends_of kbc-q7)"
for want in libqt6widgets6 libqt6network6 fonts-wqy-zenhei fonts-noto-cjk qt6-translations-l10n; do
  grep -qx "$want" <<<"$(names_in "$(depends_of kbc-q7)")" ||
    fail "kbc-q7 does not depend on $want: $(depends_of kbc-q7)"
done

# Stripped binaries; their symbols in the matching -dbgsym package.
unpacked=$(mktemp -d)
trap 'rm -rf "$unpacked"' EXIT
for package in kbcctl kbc-q7; do
  dpkg-deb -x "$(deb_of $package)" "$unpacked/$package"
  binary="$unpacked/$package/usr/bin/$package"
  file -b "$binary" | grep -q ', stripped' || fail "$package: $(file -b "$binary")"
  id=$(file -b "$binary" | grep -Eo 'BuildID\[sha1\]=[0-9a-f]+' | cut -d= -f2)
  debug="/usr/lib/debug/.build-id/${id:0:2}/${id:2}.debug"
  files_of "$(deb_of $package-dbgsym)" | grep -qx "$debug" ||
    fail "$package-dbgsym lacks $debug"
done

# The package makes the service's user and the store's folder, and enables the timer alone.
dpkg-deb -e "$(deb_of kbcctl)" "$unpacked/kbcctl-control"
postinst="$unpacked/kbcctl-control/postinst"
for want in systemd-sysusers systemd-tmpfiles 'deb-systemd-helper.*kbcctl-upload.timer'; do
  grep -q "$want" "$postinst" || fail "kbcctl's postinst lacks $want"
done
if grep -q 'enable.*kbcctl-upload.service' "$postinst"; then
  fail "kbcctl's postinst enables the service, not only its timer"
fi

# The window's entry carries its Chinese name and keywords.
entry="$unpacked/kbc-q7/usr/share/applications/io.github.kbcq7.KbcQ7.desktop"
for key in 'Name[zh_CN]' 'Keywords[zh_CN]'; do
  grep -qF "$key=" "$entry" || fail "the desktop entry lacks $key"
done
exit $status
