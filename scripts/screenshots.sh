#!/usr/bin/env bash
# Renders the desktop program's windows to PNG files in OUTDIR on Qt's offscreen platform:
# the explorer before and after analysing the demo card, the dialogs, the wizards, the data
# viewer, the preview and the help, once per language (OUTDIR/English, OUTDIR/Deutsch).
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/lib.sh"
root=$(repo_root)
out=${1:?usage: scripts/screenshots.sh OUTDIR}

# DUZEZ_BUILD_DIR: an existing build to use (the package's), else build-release.
build=${DUZEZ_BUILD_DIR:-$root/build-release}

ensure_packages "${BUILD_PACKAGES[@]}" "${UI_PACKAGES[@]}"
if [ -z "${DUZEZ_BUILD_DIR:-}" ]; then
    cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release \
          -DDUZEZ_TESTS=OFF -DDUZEZ_BENCH=OFF >/dev/null
fi
cmake --build "$build" --target duzez-screenshots duzez_data >/dev/null
# Its own settings and cache, so the shots never depend on (or change) the user's.
home=$(mktemp -d)
trap 'rm -rf "$home"' EXIT
for language in English Deutsch; do
    mkdir -p "$out/$language"
    rm -rf "$home"/*
    XDG_CONFIG_HOME="$home/config" XDG_CACHE_HOME="$home/cache" XDG_STATE_HOME="$home/state" \
        QT_QPA_PLATFORM=offscreen "$build/bin/duzez-screenshots" \
        "$(realpath "$out/$language")" "$language"
done
