#!/usr/bin/env bash
# Installs what is missing, builds into build/, runs every test through ctest,
# then builds and runs the library's tests once more under ASan and UBSan (with
# the fuzz targets' seed corpora) and once under ThreadSanitizer. Every build
# treats a compiler warning as an error.
set -euo pipefail
cd "$(dirname "$0")"
./scripts/install-packages.sh
# LLVM's FuzzedDataProvider.h, through which the fuzz targets read their inputs
# when ctest replays their seed corpora.
./scripts/install-packages.sh libclang-rt-14-dev

jobs=$(nproc)
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo -DNETZSPURER_WERROR=ON
cmake --build build -j"$jobs"
export QT_QPA_PLATFORM=offscreen
export QTWEBENGINE_DISABLE_SANDBOX=1
(cd build && ctest --output-on-failure -j"$jobs")

cmake -S . -B build-asan -DCMAKE_BUILD_TYPE=Debug -DNETZSPURER_GUI=OFF -DNETZSPURER_SANITIZE=ON \
  -DNETZSPURER_BENCH=OFF -DNETZSPURER_WERROR=ON
cmake --build build-asan -j"$jobs" --target core_tests netzspurer_fuzz
(cd build-asan && ctest --output-on-failure -j"$jobs" -L 'core|fuzz')

# Optimised: ThreadSanitizer is slow enough without -O0 on top. The libraries
# it cannot see into are named in tests/tsan.supp, with why.
tsan_suppressions="$PWD/tests/tsan.supp"
cmake -S . -B build-tsan -DCMAKE_BUILD_TYPE=RelWithDebInfo -DNETZSPURER_GUI=OFF -DNETZSPURER_TSAN=ON \
  -DNETZSPURER_BENCH=OFF -DNETZSPURER_WERROR=ON
cmake --build build-tsan -j"$jobs" --target core_tests
(cd build-tsan && TSAN_OPTIONS="suppressions=$tsan_suppressions:second_deadlock_stack=1" \
  ctest --output-on-failure -j"$jobs" -L core)
