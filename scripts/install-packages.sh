#!/usr/bin/env bash
# Installs the Debian packages that building, running and testing Netzspurer need,
# and only those that are missing. Used by run.sh and test.sh.
#
#   scripts/install-packages.sh [PACKAGE...]
#
# With packages named, installs those (if missing) instead: the other scripts
# (package, fuzzing, benchmarks) install what they need on top through it.
set -euo pipefail

PACKAGES=(
  build-essential cmake pkg-config
  qt6-base-dev qt6-webengine-dev qt6-svg-dev
  libcurl4-openssl-dev
  # response bodies are decoded by us, in bounded steps (gzip by ISA-L; zlib's
  # encoder makes the tests' bodies)
  libisal-dev zlib1g-dev libbrotli-dev libzstd-dev
  # the page checksum (XXH3); host names in Unicode
  libxxhash-dev libidn2-dev
  libgtest-dev libgmock-dev libbenchmark-dev
  libcpp-httplib-dev
  # https: the system's certificate store; tests make their own certificates
  libssl-dev openssl ca-certificates
  nlohmann-json3-dev
  fonts-liberation
  # tests and benchmarks that need a real web server start nginx
  nginx-light
  # one dialog test also runs on a real X server, under a window manager
  xvfb xauth openbox x11-utils
  # the sources' format is checked by a test
  clang-format-14
)

if [ $# -gt 0 ]; then
  PACKAGES=("$@")
fi

missing=()
for p in "${PACKAGES[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi

echo "Installing missing packages: ${missing[*]}"
SUDO=""
if [ "$(id -u)" -ne 0 ]; then
  SUDO="sudo"
fi
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -qq
$SUDO apt-get install -y -qq "${missing[@]}"
