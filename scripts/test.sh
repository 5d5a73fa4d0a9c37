#!/usr/bin/env bash
# Installs what is missing, builds everything and runs every test: once as a normal
# build, once under AddressSanitizer and UndefinedBehaviorSanitizer. The tests are turned
# on at every configure (a folder configured earlier without them keeps that in its
# cache), and a run that finds no test at all fails.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
export QT_QPA_PLATFORM=offscreen
jobs=$(nproc)

cmake -S . -B build -DCMAKE_BUILD_TYPE=Release -DQUILLET_BUILD_TESTS=ON >/dev/null
cmake --build build -j"$jobs"
ctest --test-dir build --output-on-failure --no-tests=error -j"$jobs"

cmake -S . -B build-sanitize -DCMAKE_BUILD_TYPE=Debug -DQUILLET_SANITIZE=ON -DQUILLET_BUILD_BENCH=OFF \
  -DQUILLET_BUILD_TESTS=ON >/dev/null
cmake --build build-sanitize -j"$jobs"
ctest --test-dir build-sanitize --output-on-failure --no-tests=error -j"$jobs"

# The fuzz targets, each for a bounded time; any finding fails the run.
bash scripts/fuzz.sh 30
