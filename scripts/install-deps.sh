#!/bin/sh
# Installs the Debian packages commcheck needs to build, test and run.
# Does nothing (and needs no network) when everything is already there.
set -eu

PACKAGES="
cmake
ninja-build
g++
clang
libclang-rt-14-dev
make
pkg-config
qt6-base-dev
qt6-serialport-dev
qt6-charts-dev
qt6-httpserver-dev
qt6-websockets-dev
libqt6opengl6-dev
qt6-translations-l10n
libqt6svg6
libfontconfig-dev
libgl-dev
fonts-ipafont-gothic
socat
ser2net
prometheus
python3-prometheus-client
systemd
xvfb
xauth
dbus-daemon
at-spi2-core
python3-pyatspi
appstream
desktop-file-utils
python3
g++-mingw-w64-x86-64
"

# `install-deps.sh bench` and `install-deps.sh package`: also what
# `make bench` or `make package` alone needs.
case "${1:-}" in
bench) PACKAGES="$PACKAGES libbenchmark-dev python3-serial" ;;
package) PACKAGES="$PACKAGES dpkg-dev file lintian" ;;
esac

missing=""
for p in $PACKAGES; do
    status=$(dpkg-query -W -f='${Status}' "$p" 2>/dev/null || true)
    case "$status" in
    *"install ok installed"*) ;;
    *) missing="$missing $p" ;;
    esac
done

[ -z "$missing" ] && exit 0

echo "install-deps: installing:$missing"
SUDO=""
if [ "$(id -u)" -ne 0 ]; then
    if command -v sudo >/dev/null 2>&1; then
        SUDO="sudo"
    else
        echo "install-deps: need root (or sudo) to install:$missing" >&2
        exit 1
    fi
fi
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -qq
# shellcheck disable=SC2086
$SUDO apt-get install -y -qq --no-install-recommends $missing
