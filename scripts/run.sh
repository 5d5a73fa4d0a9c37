#!/usr/bin/env bash
# Installs what is missing, builds Quillet and starts it.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
cmake -S . -B build -DCMAKE_BUILD_TYPE=Release -DQUILLET_BUILD_TESTS=OFF -DQUILLET_BUILD_BENCH=OFF >/dev/null
cmake --build build -j"$(nproc)" --target quillet
exec build/Quillet/Contents/MacOS/Quillet "$@"
