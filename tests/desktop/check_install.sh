#!/usr/bin/env bash
# Installs the build into a temporary prefix and checks what a desktop sees
# there: the desktop entry and the AppStream metadata pass their validators,
# the icon is the drawn SVG, the binary carries no path into the build
# folder, and an autostart entry written by a binary installed at
# <prefix>/bin/corvid starts that binary.
#   check_install.sh BUILD_DIR AUTOSTART_PROBE
set -euo pipefail
build="$1"
probe="$2"
id=io.github.corvid.Corvid

tmp="$(mktemp -d /tmp/corvid-install.XXXXXX)"
trap 'rm -rf "$tmp"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

prefix="$tmp/usr"
cmake --install "$build" --prefix "$prefix" >/dev/null

desktop="$prefix/share/applications/$id.desktop"
metainfo="$prefix/share/metainfo/$id.metainfo.xml"
icon="$prefix/share/icons/hicolor/scalable/apps/corvid.svg"
for f in "$prefix/bin/corvid" "$desktop" "$metainfo" "$icon"; do
  [ -s "$f" ] || fail "not installed: ${f#$prefix/}"
done
[ -x "$prefix/bin/corvid" ] || fail "bin/corvid is not executable"

desktop-file-validate "$desktop" || fail "desktop-file-validate $id.desktop"
appstreamcli validate --no-net "$metainfo" || fail "appstreamcli validate"
grep -qx "Icon=corvid" "$desktop" || fail "the desktop entry does not name the installed icon"
grep -q "<launchable type=\"desktop-id\">$id.desktop</launchable>" "$metainfo" || fail "launchable"
grep -q '<release version="1.0"' "$metainfo" || fail "release 1.0"

grep -q "<svg" "$icon" || fail "the icon is not SVG"
grep -q 'stroke-linecap="round"' "$icon" || fail "the icon lacks the glyph strokes"

if readelf -d "$prefix/bin/corvid" | grep -E 'R(UN)?PATH' | grep -qF "$build"; then
  fail "the installed binary keeps a run path into the build folder"
fi

# Launch at login from an installed location.
mkdir -p "$tmp/probe/bin"
cp "$probe" "$tmp/probe/bin/corvid"
"$tmp/probe/bin/corvid" "$tmp/autostart" || fail "registering launch at login"
entry="$tmp/autostart/corvid.desktop"
exec_line="$(grep '^Exec=' "$entry")"
[ "$exec_line" = "Exec=\"$tmp/probe/bin/corvid\"" ] || fail "autostart $exec_line"
desktop-file-validate "$entry" || fail "desktop-file-validate autostart entry"

echo "install checks passed"
