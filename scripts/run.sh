#!/usr/bin/env bash
# Builds a release build and runs duzez-cli with the given arguments.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/lib.sh"
root=$(repo_root)

ensure_packages "${BUILD_PACKAGES[@]}"
cmake -S "$root" -B "$root/build-release" -G Ninja -DCMAKE_BUILD_TYPE=Release \
      -DDUZEZ_TESTS=OFF -DDUZEZ_BENCH=OFF >/dev/null
cmake --build "$root/build-release" >/dev/null

exec "$root/build-release/bin/duzez-cli" "$@"
