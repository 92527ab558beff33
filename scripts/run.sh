#!/usr/bin/env bash
# Builds a release build and runs duzez-cli with the given arguments. Without arguments it
# runs the demo: the deleted photos of a small camera card image are found and recovered
# into "~/Recovered Files/demo".
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/lib.sh"
root=$(repo_root)

ensure_packages "${BUILD_PACKAGES[@]}" gzip
cmake -S "$root" -B "$root/build-release" -G Ninja -DCMAKE_BUILD_TYPE=Release \
      -DDUZEZ_TESTS=OFF -DDUZEZ_BENCH=OFF >/dev/null
cmake --build "$root/build-release" >/dev/null
cli="$root/build-release/bin/duzez-cli"

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
