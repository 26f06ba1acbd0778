#!/usr/bin/env bash
# Installs the Debian 12 packages the client and its tests need.
set -euo pipefail
SUDO=""
[ "$(id -u)" -eq 0 ] || SUDO="sudo"
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -qq
$SUDO apt-get install -y -qq --no-install-recommends \
  build-essential cmake pkg-config git ca-certificates \
  qt6-base-dev qt6-base-dev-tools libqt6opengl6-dev libgl-dev libglu1-mesa-dev libgl1-mesa-dri \
  libavcodec-dev libavutil-dev libswscale-dev libsdl2-dev libssl-dev \
  libfontconfig-dev fonts-dejavu-core \
  libgtest-dev libbenchmark-dev \
  xvfb xauth clang libclang-rt-14-dev >/dev/null
