#!/usr/bin/env bash
# Installs every Debian package that building and testing Quillmarch needs.
set -euo pipefail
PACKAGES=(
  build-essential cmake ninja-build pkg-config
  qt6-base-dev libpcre3-dev libplist-dev
  libavformat-dev libavcodec-dev libswresample-dev libavutil-dev
  libsndfile1-dev libflac-dev libspandsp-dev libbcg729-dev libgtest-dev libgmock-dev libbenchmark-dev
  lame sox ffmpeg sndfile-programs attr man-db time twolame flac e2fsprogs opus-tools vorbis-tools python3
  clang libclang-rt-14-dev ccache
  xvfb xauth openbox xdotool x11-utils
  portaudio19-dev
)
missing=()
for p in "${PACKAGES[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  SUDO=""
  [ "$(id -u)" -ne 0 ] && SUDO="sudo"
  export DEBIAN_FRONTEND=noninteractive
  $SUDO apt-get update
  $SUDO apt-get install -y --no-install-recommends "${missing[@]}"
fi
