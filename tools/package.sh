#!/usr/bin/env bash
# Builds the Debian package build/annc_VERSION_ARCH.deb with CPack: the
# stripped programs (annc-line runs annc-name beside it) and the sample
# voice in /usr/lib/annc, links in
# /usr/bin, the phone book as the configuration file /etc/annc/aon.db, the
# systemd units, and the maintainer scripts that set up the user annc. Its
# library dependencies are read from the binaries (dpkg-shlibdeps).
#
#   bash tools/package.sh          then: sudo apt install ./build/annc_*.deb
set -euo pipefail
cd "$(dirname "$0")/.."

for tool in cpack dpkg-shlibdeps espeak-ng sox; do
  if ! command -v "$tool" >/dev/null 2>&1; then
    echo "package: $tool is missing: run bash tools/setup.sh first" >&2
    exit 1
  fi
done

cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo -DANNC_VOICE=ON >/dev/null
cmake --build build -j"$(nproc)" --target annc annc-line annc-name annc-web voice
if [ ! -f build/Numvoice/InterDigit.Wav ] || [ ! -f build/Numvoice/aon.db ]; then
  echo "package: the sample voice is missing from build/Numvoice (see cmake's message above)" >&2
  exit 1
fi

rm -f build/annc_*.deb
(cd build && cpack -G DEB >/dev/null)
shopt -s nullglob
debs=(build/annc_*.deb)
if [ "${#debs[@]}" -ne 1 ]; then
  echo "package: cpack made no build/annc_*.deb" >&2
  exit 1
fi
echo "package: ${debs[0]}"
