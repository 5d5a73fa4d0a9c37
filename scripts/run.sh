#!/usr/bin/env bash
# Installs what is missing, builds Quillet and starts it.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
# The same build folder and options as scripts/test.sh, tests on (options are cached per
# folder, so turning the tests off here would leave them off there); only the program is
# built.
cmake -S . -B build -DCMAKE_BUILD_TYPE=Release -DQUILLET_BUILD_TESTS=ON >/dev/null
cmake --build build -j"$(nproc)" --target quillet
exec build/Quillet/Contents/MacOS/Quillet "$@"
