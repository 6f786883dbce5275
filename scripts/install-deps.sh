#!/usr/bin/env bash
# Installs the Debian packages that building, running and testing Quorbel need,
# and only those that are missing. Uses sudo when not run as root.
set -euo pipefail

packages=(
  # build
  cmake g++ make pkg-config
  libsdl2-dev libpng-dev libjpeg-dev zlib1g-dev libfreetype-dev
  libxkbcommon-dev libxkbcommon-x11-dev libx11-dev xkb-data
  # tests
  googletest libgtest-dev libgmock-dev
  xvfb xdotool x11-apps x11-utils x11-xkb-utils openbox
  # asset tools
  python3 python3-fonttools python3-pil
  # cjpeg and djpeg: the JPEG test fixtures and their reference decodes
  libjpeg-turbo-progs
)

if [ "${1:-}" = "--bench" ]; then
  # libxdamage-dev: bench/xwatch.c sees the window's pixels change through DAMAGE
  packages+=(libbenchmark-dev libxdamage-dev)
fi
if [ "${1:-}" = "--fuzz" ]; then
  packages+=(clang-14 libclang-rt-14-dev)
fi
if [ "${1:-}" = "--valgrind" ]; then
  packages+=(valgrind)
fi

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done

[ ${#missing[@]} -eq 0 ] && exit 0

sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"
echo "installing: ${missing[*]}"
$sudo apt-get update -qq
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
