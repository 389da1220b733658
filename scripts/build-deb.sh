#!/usr/bin/env bash
# Builds the Debian package build-deb/netzspurer_VERSION_ARCH.deb with Debian's
# compiler and linker flags, without tests or benchmarks, then checks it with
# lintian, the desktop entry with desktop-file-validate and the AppStream
# metainfo with appstreamcli. Install it with
#   apt install ./build-deb/netzspurer_*.deb
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/install-packages.sh

# What packing and checking need on top of the build: CPack finds the programs'
# library dependencies with file and dpkg-shlibdeps (dpkg-dev).
./scripts/install-packages.sh dpkg-dev file lintian desktop-file-utils appstream

# Debian's hardening: stack protector, fortified functions, read-only
# relocations, immediate binding.
export DEB_BUILD_MAINT_OPTIONS=hardening=+all
cxxflags="$(dpkg-buildflags --get CXXFLAGS) $(dpkg-buildflags --get CPPFLAGS)"
ldflags=$(dpkg-buildflags --get LDFLAGS)

cmake -S . -B build-deb -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DNETZSPURER_TESTS=OFF -DNETZSPURER_BENCH=OFF \
  -DCMAKE_CXX_FLAGS="$cxxflags" -DCMAKE_EXE_LINKER_FLAGS="$ldflags"
cmake --build build-deb -j"$(nproc)"
rm -f build-deb/netzspurer_*.deb
(cd build-deb && cpack -G DEB)
deb=$(ls build-deb/netzspurer_*.deb)

desktop-file-validate resources/netzspurer.desktop
appstreamcli validate --no-net resources/*.metainfo.xml
lintian --fail-on error "$deb"
echo "Built $deb"
echo "Install it with: apt install ./$deb"
