# Shared steps of the run and test commands; sourced, not run.
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."

# Installs whichever of the given Debian packages are missing.
install_missing() {
    local missing=()
    for package in "$@"; do
        dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed" \
            || missing+=("$package")
    done
    [ ${#missing[@]} -eq 0 ] && return
    local sudo=""
    [ "$(id -u)" -eq 0 ] || sudo=sudo
    echo "Installing ${missing[*]}"
    $sudo apt-get update -qq
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq "${missing[@]}" >/dev/null
}

# libqt6svg6 brings the plug-ins that draw the window icon; qt6-svg-dev the
# SVG writer of sandpile-stats' plots; libcli11-dev its command line.
# libvips-dev writes the zoom folders' tiles, libpng-dev the pictures of
# sandpile-pile, whose zoom folders copy their viewer from libjs-leaflet.
BUILD_PACKAGES=(cmake make g++ qt6-base-dev qt6-svg-dev libcli11-dev libqt6svg6 fonts-dejavu-core
    libvips-dev libpng-dev zlib1g-dev pkg-config libjs-leaflet)
# The Python module btwsandpile and its tests, on Debian's /usr/bin/python3;
# python3-pip brings the wheel builder that pip install needs.
PYTHON_PACKAGES=(pybind11-dev python3-dev python3-numpy python3-pytest python3-venv python3-setuptools python3-pip)

# build DIRECTORY BUILD_TYPE [CMAKE OPTIONS...]
build() {
    local directory=$1 type=$2
    shift 2
    cmake -S . -B "$directory" -DCMAKE_BUILD_TYPE="$type" "$@" >/dev/null
    cmake --build "$directory" --parallel "$(nproc)"
}
