#!/usr/bin/env bash
# Installs what is needed, builds the client and starts it.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/deps.sh
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVESK_BENCH=OFF >/dev/null
cmake --build build -j"$(nproc)" --target vesk
exec ./build/app/vesk "$@"
