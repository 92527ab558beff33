#!/usr/bin/env bash
# Builds the Debian package: a release build with Debian's hardening flags, installed
# under /usr by CPack into build-package/duzez-quarnel_VERSION_amd64.deb. The screenshots
# the AppStream metainfo names are rendered into build-package/screenshots/ to be
# published at the address it gives. Prints the package's path.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/lib.sh"
root=$(repo_root)
build=${DUZEZ_PACKAGE_BUILD_DIR:-$root/build-package}

ensure_packages "${BUILD_PACKAGES[@]}" "${UI_PACKAGES[@]}" "${PACKAGE_PACKAGES[@]}"
export DEB_BUILD_MAINT_OPTIONS="hardening=+all"
# Debian's flags without -g: the package ships stripped programs.
flag() { dpkg-buildflags --get "$1" | sed 's/\(^\| \)-g\( \|$\)/ /'; }
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX=/usr \
      -DDUZEZ_TESTS=OFF -DDUZEZ_BENCH=OFF \
      -DCMAKE_CXX_FLAGS="$(flag CXXFLAGS) $(flag CPPFLAGS)" \
      -DCMAKE_EXE_LINKER_FLAGS="$(flag LDFLAGS)" >/dev/null
cmake --build "$build" >/dev/null

DUZEZ_BUILD_DIR="$build" "$root/scripts/screenshots.sh" "$build/screenshots/all" \
    >"$build/screenshots.log" 2>&1
for shot in 30-wizard4-1-drive:wizard-drive 16-preview:explorer \
            17-thumbnails:thumbnails 04-recover-dialog:recover; do
    cp "$build/screenshots/all/English/${shot%%:*}.png" "$build/screenshots/${shot#*:}.png"
done

(cd "$build" && cpack -G DEB >/dev/null)
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$build/CMakeCache.txt")
echo "$build/duzez-quarnel_${version}_$(dpkg --print-architecture).deb"
