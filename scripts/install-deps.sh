#!/usr/bin/env bash
# Installs everything Pelora builds and runs with, from Debian 12's packages.
set -euo pipefail
SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update
$SUDO apt-get install -y --no-install-recommends \
  build-essential cmake pkg-config \
  qt6-base-dev libgl-dev \
  libqt6opengl6-dev libsdl2-dev libgl1-mesa-dri \
  tcl8.6-dev \
  libsodium-dev \
  libsqlite3-dev libasio-dev \
  libpq-dev postgresql \
  libprotobuf-dev protobuf-compiler libssl-dev \
  clang libclang-rt-14-dev \
  libgtest-dev libgmock-dev googletest libbenchmark-dev \
  xvfb xauth xdotool \
  libcpp-httplib-dev chromium chromium-driver python3-selenium \
  file desktop-file-utils lintian
