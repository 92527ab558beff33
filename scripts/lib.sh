# Shared helpers of the scripts; sourced, not run.

# Installs the Debian packages of "$@" that are not installed yet.
ensure_packages() {
    local missing=()
    local package
    for package in "$@"; do
        if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'install ok installed'; then
            missing+=("$package")
        fi
    done
    [ ${#missing[@]} -eq 0 ] && return 0
    echo "Installing: ${missing[*]}" >&2
    local sudo=()
    [ "$(id -u)" -ne 0 ] && sudo=(sudo)
    export DEBIAN_FRONTEND=noninteractive
    if ! "${sudo[@]}" apt-get install -y --no-install-recommends "${missing[@]}"; then
        "${sudo[@]}" apt-get update
        "${sudo[@]}" apt-get install -y --no-install-recommends "${missing[@]}"
    fi
}

# What every build needs.
BUILD_PACKAGES=(g++ cmake ninja-build pkg-config libcli11-dev nlohmann-json3-dev
                libblkid-dev libudev-dev qt6-base-dev libgl-dev zlib1g-dev libjpeg62-turbo-dev)
# What the windows need to look the same on every machine (screenshots, widget tests).
UI_PACKAGES=(fonts-dejavu-core)
# What the tests, benchmarks and fuzz harnesses add.
TEST_PACKAGES=(fonts-dejavu-core googletest libgtest-dev libbenchmark-dev clang libclang-rt-14-dev dosfstools imagemagick fdisk ntfs-3g attr mtools sleuthkit qt6-l10n-tools e2fsprogs zip unzip p7zip-full qpdf sqlite3 libimage-exiftool-perl vorbis-tools sox lame libgsf-bin exfatprogs exfat-fuse libjpeg-turbo-progs python3 python3-jsonschema bsdutils)
# What building the Debian package and checking it adds.
PACKAGE_PACKAGES=(dpkg-dev fakeroot file librsvg2-bin lintian appstream desktop-file-utils
                  libxml2-utils)

repo_root() { cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd; }
