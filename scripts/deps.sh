#!/usr/bin/env bash
# Installs the Debian 12 packages the client and its tests need. The list
# below is the only one: with --list the script prints it, one package a
# line, and installs nothing (scripts/check-deps.sh reads it so).
set -euo pipefail
SUDO=""
[ "$(id -u)" -eq 0 ] || SUDO="sudo"
export DEBIAN_FRONTEND=noninteractive
out=/dev/null
if [ "${1:-}" = "--list" ]; then
  # Stands in for the install below: prints its package arguments.
  list_packages() { shift 2; for p in "$@"; do [[ "$p" == -* ]] || echo "$p"; done; }
  SUDO=list_packages
  out=/dev/stdout
else
  $SUDO apt-get update -qq
fi
$SUDO apt-get install -y -qq --no-install-recommends \
  build-essential cmake pkg-config git ca-certificates \
  qt6-base-dev qt6-base-dev-tools libqt6opengl6-dev libgl-dev libglu1-mesa-dev libgl1-mesa-dri \
  libavcodec-dev libavutil-dev libswscale-dev libsdl2-dev libssl-dev \
  libfontconfig-dev fonts-dejavu-core \
  libgtest-dev libbenchmark-dev \
  xvfb xauth clang libclang-rt-14-dev llvm lld >"$out"
