#!/usr/bin/env bash
# Packs the build as the Debian package that tools/package makes (CPack's
# DEB generator over the same install rules, here from the build under
# test rather than a fresh release build) and checks it as Debian does:
# lintian finds no error, /usr/share/doc/corvid holds the copyright file
# and the changelog of this version, and the desktop entry names the
# windows' class.
#   check_package.sh BUILD_DIR
set -euo pipefail
build="$1"

tmp="$(mktemp -d /tmp/corvid-package.XXXXXX)"
trap 'rm -rf "$tmp"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

cpack --config "$build/CPackConfig.cmake" -G DEB -B "$tmp" >"$tmp/cpack.log" 2>&1 || {
  cat "$tmp/cpack.log" >&2
  fail "cpack"
}
deb="$(ls "$tmp"/corvid_*.deb)"
version="$(dpkg-deb -f "$deb" Version)"

dpkg-deb -x "$deb" "$tmp/root"
doc="$tmp/root/usr/share/doc/corvid"
[ -s "$doc/copyright" ] || fail "no /usr/share/doc/corvid/copyright"
grep -q '^Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/' "$doc/copyright" \
  || fail "the copyright file is not in the machine-readable format"
[ -s "$doc/changelog.gz" ] || fail "no /usr/share/doc/corvid/changelog.gz"
head -n1 <(gzip -dc "$doc/changelog.gz") | grep -qF "corvid ($version) " \
  || fail "the changelog's newest entry is not version $version"
grep -qx 'StartupWMClass=Corvid' "$tmp/root/usr/share/applications/io.github.corvid.Corvid.desktop" \
  || fail "the desktop entry has no StartupWMClass=Corvid"

# Errors fail; warnings and the rest are shown.
lintian --fail-on error --tag-display-limit 0 "$deb" || fail "lintian reports errors"
echo "package checks passed: $(basename "$deb")"
