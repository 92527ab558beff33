#!/usr/bin/env bash
# Builds the Debian package as scripts/package.sh does, checks the paths it holds, runs
# the validators a distribution runs, then unpacks it into a temporary root and runs both
# programs from there: what a person gets from "apt install ./duzez-quarnel_*.deb".
set -euo pipefail
if ! command -v dpkg-deb >/dev/null; then
    echo "dpkg-deb missing: the package test is skipped"
    exit 77
fi
source_dir=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
problems=0
fail() {
    echo "FAIL: $*" >&2
    problems=$((problems + 1))
}

deb=$("$source_dir/scripts/package.sh" | tail -n 1)
[ -f "$deb" ] || { echo "FAIL: scripts/package.sh made no package ($deb)" >&2; exit 1; }
[[ $(basename "$deb") =~ ^duzez-quarnel_[0-9]+\.[0-9]+\.[0-9]+_amd64\.deb$ ]] ||
    fail "package name $(basename "$deb")"

# What it holds: every expected path, and nothing outside the places a package may use.
dpkg-deb -c "$deb" | awk '$1 !~ /^d/ {print $1, $2, $6}' | sed 's| \./| /|' >"$work/listing"
awk '{print $3}' "$work/listing" | sort >"$work/paths"
while read -r expected; do
    grep -qxF "$expected" "$work/paths" || fail "missing $expected"
done <<'PATHS'
/usr/bin/duzez
/usr/bin/duzez-cli
/usr/libexec/duzez/duzez-open-device
/usr/share/applications/com.quarnel.Duzez.desktop
/usr/share/metainfo/com.quarnel.Duzez.metainfo.xml
/usr/share/polkit-1/actions/com.quarnel.Duzez.policy
/usr/share/icons/hicolor/scalable/apps/com.quarnel.Duzez.svg
/usr/share/icons/hicolor/16x16/apps/com.quarnel.Duzez.png
/usr/share/icons/hicolor/48x48/apps/com.quarnel.Duzez.png
/usr/share/icons/hicolor/256x256/apps/com.quarnel.Duzez.png
/usr/share/man/man1/duzez.1.gz
/usr/share/man/man1/duzez-cli.1.gz
/usr/share/doc/duzez-quarnel/copyright
/usr/share/doc/duzez-quarnel/changelog.gz
/usr/share/duzez/signatures.reg
/usr/share/duzez/Languages/Deutsch.lng
/usr/share/duzez/media/index.html
/usr/share/duzez/media/help/index.html
/usr/share/duzez/demo/camera-card.img.gz
PATHS
allowed='^/usr/(bin/duzez(-cli)?|libexec/duzez/duzez-open-device|share/(duzez|applications|metainfo|polkit-1/actions|icons/hicolor|man/man1|doc/duzez-quarnel|lintian/overrides)/.+)$'
unexpected=$(grep -vE "$allowed" "$work/paths" || true)
[ -z "$unexpected" ] || fail "unexpected paths: $unexpected"
# No set-uid program: root comes only through polkit's pkexec, per drive.
grep -E '^-[rwx-]{2}[sS]|^-[rwx-]{5}[sS]' "$work/listing" && fail "a set-uid or set-gid file"
grep -qE '^-rwxr-xr-x root/root /usr/libexec/duzez/duzez-open-device$' "$work/listing" ||
    fail "the helper is not a plain 0755 root program"

# The validators.
dpkg-deb -x "$deb" "$work/root"
desktop-file-validate "$work/root/usr/share/applications/com.quarnel.Duzez.desktop" ||
    fail "desktop-file-validate"
grep -qxF 'Exec=duzez %f' "$work/root/usr/share/applications/com.quarnel.Duzez.desktop" ||
    fail "the desktop file must start the program itself, as the user"
appstreamcli validate --no-net "$work/root/usr/share/metainfo/com.quarnel.Duzez.metainfo.xml" ||
    fail "appstreamcli validate"
# Kept info-level notes are explained in the package's own overrides file.
lintian --allow-root --fail-on error,warning "$deb" || fail "lintian"
policy="$work/root/usr/share/polkit-1/actions/com.quarnel.Duzez.policy"
xmllint --noout "$policy" || fail "the polkit policy is no XML"
exec_path=$(xmllint --xpath 'string(//annotate[@key="org.freedesktop.policykit.exec.path"])' "$policy")
[ "$exec_path" = /usr/libexec/duzez/duzez-open-device ] ||
    fail "the polkit action names $exec_path, not the installed helper"
[ "$(xmllint --xpath 'string(//allow_active)' "$policy")" = auth_admin_keep ] ||
    fail "the polkit action does not ask for the administrator once"
for page in duzez duzez-cli; do
    warnings=$(LC_ALL=C.UTF-8 MANROFFSEQ='' MANWIDTH=80 \
        man --warnings -E UTF-8 -l -Tutf8 -Z "$work/root/usr/share/man/man1/$page.1.gz" 2>&1 >/dev/null)
    [ -z "$warnings" ] || fail "man page $page: $warnings"
done

# Both programs, run from the unpacked root: they find their data in ../share/duzez.
bin="$work/root/usr/bin"
export XDG_CONFIG_HOME="$work/config" XDG_STATE_HOME="$work/state" XDG_CACHE_HOME="$work/cache"
version=$(dpkg-deb -f "$deb" Version)
[ "$("$bin/duzez-cli" --version)" = "duzez-cli $version" ] || fail "duzez-cli --version"
# Whole outputs, not pipes into grep -q: an early grep end would fail the program's write.
window_version=$(QT_QPA_PLATFORM=offscreen "$bin/duzez" --version 2>/dev/null)
[[ $window_version == *"$version"* ]] || fail "duzez --version: $window_version"
formats=$("$bin/duzez-cli" signatures list)
[[ $formats == *jpg* ]] || fail "the installed signature database"

# The command-line demo on the shipped camera card: its three deleted photos, whole.
gzip -dc "$work/root/usr/share/duzez/demo/camera-card.img.gz" >"$work/card.img"
"$bin/duzez-cli" recover "$work/card.img" "$work/out" --deep --deleted-only >"$work/demo.txt" ||
    fail "the demo recovery: $(cat "$work/demo.txt")"
grep -qF 'Photos checked: 3 intact' "$work/demo.txt" || fail "demo: $(cat "$work/demo.txt")"
(cd "$work/out" && find . -type f | sort) >"$work/recovered"
printf '%s\n' ./DCIM/100CANON/_MG_0002.JPG ./DCIM/100CANON/_MG_0004.JPG \
    ./DCIM/100CANON/_MG_0007.PNG | diff -u - "$work/recovered" || fail "the demo's recovered files"

# The helper, run by hand: refused before it opens anything.
set +e
"$work/root/usr/libexec/duzez/duzez-open-device" /dev/null >/dev/null 2>&1
[ $? -eq 2 ] || fail "the helper took a plain output"
set -e

if [ "$problems" -ne 0 ]; then
    echo "$problems problem(s) with $deb" >&2
    exit 1
fi
echo "$deb: contents, validators and both programs checked"
