#!/usr/bin/env bash
# Installs what is missing, builds into build/, runs every test through ctest,
# then builds and runs the library's tests once more under ASan and UBSan.
set -euo pipefail
cd "$(dirname "$0")"
./scripts/install-packages.sh

jobs=$(nproc)
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build build -j"$jobs"
export QT_QPA_PLATFORM=offscreen
export QTWEBENGINE_DISABLE_SANDBOX=1
(cd build && ctest --output-on-failure -j"$jobs")

cmake -S . -B build-asan -DCMAKE_BUILD_TYPE=Debug -DNETZSPURER_GUI=OFF -DNETZSPURER_SANITIZE=ON -DNETZSPURER_BENCH=OFF
cmake --build build-asan -j"$jobs" --target core_tests
(cd build-asan && ctest --output-on-failure -j"$jobs" -L core)
