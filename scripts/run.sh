#!/usr/bin/env bash
# Builds a release build and runs the program's main job. With a display and no arguments
# (or with --demo) it starts the desktop program duzez, --demo with the demo camera card
# loaded. Otherwise it runs duzez-cli with the given arguments, and without arguments the
# command-line demo: the deleted photos of a small camera card image are found and
# recovered into "~/Recovered Files/demo".
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/lib.sh"
root=$(repo_root)

ensure_packages "${BUILD_PACKAGES[@]}" "${UI_PACKAGES[@]}" gzip
cmake -S "$root" -B "$root/build-release" -G Ninja -DCMAKE_BUILD_TYPE=Release \
      -DDUZEZ_TESTS=OFF -DDUZEZ_BENCH=OFF >/dev/null
cmake --build "$root/build-release" >/dev/null
cli="$root/build-release/bin/duzez-cli"
window="$root/build-release/bin/duzez"

if [ -n "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ] && { [ $# -eq 0 ] || [ "$*" = "--demo" ]; }; then
    exec "$window" "$@"
fi
if [ "$*" = "--demo" ]; then
    echo "No display: the command-line demo follows." >&2
    shift
fi
if [ $# -gt 0 ]; then
    exec "$cli" "$@"
fi

card="$root/build-release/demo/camera-card.img"
destination="$HOME/Recovered Files/demo"
mkdir -p "$(dirname "$card")"
gzip -dc "$root/data/demo/camera-card.img.gz" >"$card"
echo "Demo: a camera card from which three photos were deleted ($card)."
echo
echo "Deleted files its file system still names:"
"$cli" list "$card" --deleted-only
echo
echo "Recovering them, with a sector scan for anything the file system lost:"
"$cli" recover "$card" "$destination" --deep --deleted-only
echo
echo "The recovered photos:"
find "$destination" -type f -printf '  %P  (%s bytes)\n' | sort
echo
echo "Run '$0 --help' for every command, or '$0 drives' for the drives of this machine."
