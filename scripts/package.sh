#!/usr/bin/env bash
# Builds the Debian package (build-pkg/tulmo_<version>_amd64.deb) from a release build of the
# programs alone, has lintian check it (an error fails), checks what it holds, and installs it
# into a fresh Debian root to run the station there (scripts/install-test.sh).
set -euo pipefail
cd "$(dirname "$0")/.."
export CCACHE_BASEDIR="$PWD" CCACHE_NOHASHDIR=true
cmake -S . -B build-pkg -DCMAKE_BUILD_TYPE=Release -DTULMO_TESTS=OFF >/dev/null
cmake --build build-pkg -j"$(nproc)"
(cd build-pkg && rm -f tulmo_*.deb && cpack -G DEB >/dev/null)
deb=$(ls build-pkg/tulmo_*_amd64.deb)
echo "pacote: $deb"
lintian --fail-on error --tag-display-limit 0 "$deb" 2>&1 | grep -v "root privileges" || true
lintian --fail-on error "$deb" >/dev/null 2>&1
bash scripts/check-package.sh "$deb"
bash scripts/install-test.sh "$deb"
