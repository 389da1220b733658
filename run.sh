#!/usr/bin/env bash
# Installs what is missing, builds into build/ and starts Netzspurer in its
# workspace: the folder given as the first argument, else ~/Netzspurer. The
# projects, their results pages and the help folder live there.
set -euo pipefail
cd "$(dirname "$0")"
src=$(pwd)
./scripts/install-packages.sh

cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo -DNETZSPURER_GUI=ON
# Only the programs: the tests and benchmarks are test.sh's to build.
cmake --build build -j"$(nproc)" --target netzspurer netzspurer-crawl

workspace=${1:-"$HOME/Netzspurer"}
mkdir -p "$workspace"
# The same rule as the installed launcher's: a newer help page replaces the
# workspace's copy, one the user edited is kept beside it.
. "$src/resources/help-refresh.sh"
refresh_help "$src/resources/help" "$workspace/help"

cd "$workspace"
exec "$src/build/netzspurer"
