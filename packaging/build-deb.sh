#!/bin/sh
# Builds the Debian packages kalvosan-cli and kalvosan in a Release tree of its own and leaves
# them there as its only .deb files; their paths are the last two lines printed.
# Usage: packaging/build-deb.sh BUILD_DIR [JOBS]
set -eu
source_dir=$(cd "$(dirname "$0")/.." && pwd)
build_dir=${1:?usage: build-deb.sh BUILD_DIR [JOBS]}
jobs=${2:-2}

# Without these the packages would lack its manual pages, icons or dependencies.
for tool in scdoc rsvg-convert dpkg-shlibdeps dpkg-buildflags; do
    command -v "$tool" >/dev/null || { echo "build-deb.sh: $tool is missing (make deps installs it)" >&2; exit 1; }
done

# Debian's hardening flags (fortified functions, stack protector, full RELRO), as a Debian
# build would use them; the optimisation level stays the Release build's.
flags() { (cd "$source_dir" && DEB_BUILD_MAINT_OPTIONS=hardening=+all \
    DEB_CXXFLAGS_MAINT_STRIP='-g -O2' dpkg-buildflags --get "$1"); }
cxxflags="$(flags CPPFLAGS) $(flags CXXFLAGS)"
ldflags=$(flags LDFLAGS)

cmake -S "$source_dir" -B "$build_dir" -G Ninja -DCMAKE_BUILD_TYPE=Release \
    -DKALVOSAN_TESTS=OFF -DKALVOSAN_BENCH=OFF -DKALVOSAN_DEBIAN=ON -DCMAKE_INSTALL_PREFIX=/usr \
    -DCMAKE_CXX_FLAGS="$cxxflags" -DCMAKE_EXE_LINKER_FLAGS="$ldflags" \
    -DCMAKE_SHARED_LINKER_FLAGS="$ldflags"
cmake --build "$build_dir" -j "$jobs"
rm -f "$build_dir"/*.deb
(cd "$build_dir" && cpack -G DEB)
ls "$build_dir"/*.deb
