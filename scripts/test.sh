#!/usr/bin/env bash
# Installs what is missing, builds the test suite with AddressSanitizer and
# UndefinedBehaviorSanitizer and runs every test headless; then builds the core alone (no
# widgets, painting or media found) and runs its tests, so the core cannot come to depend
# on the forms; then builds the fuzzers with clang and runs each for a few seconds over its
# corpus; last, builds the Debian package, checks it and installs it into a fresh Debian root.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
# Both builds compile the same core: let ccache share it between the two folders.
export CCACHE_BASEDIR="$PWD" CCACHE_NOHASHDIR=true
export QT_QPA_PLATFORM=offscreen
export ASAN_OPTIONS="detect_leaks=1:abort_on_error=0"
export LSAN_OPTIONS="suppressions=$PWD/tests/lsan.supp:print_suppressions=0"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"
for variant in test core; do
  flags=(-DCMAKE_BUILD_TYPE=Debug -DTULMO_SANITIZE=ON -DTULMO_TESTS=ON)
  [ "$variant" = core ] && flags+=(-DTULMO_CORE_ONLY=ON)
  cmake -S . -B "build-$variant" "${flags[@]}" >/dev/null
  cmake --build "build-$variant" -j"$(nproc)"
  (cd "build-$variant" && ctest --output-on-failure -j2 --timeout 300)
done
# The fuzzers: libFuzzer is clang's, so they are a build of their own, of only the core
# sources their decoders need. A crash, or a broken property, fails the run.
cmake -S tests/fuzz -B build-fuzz -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build-fuzz -j"$(nproc)"
(cd build-fuzz && ctest --output-on-failure -j2 --timeout 120)
# The Debian package: built from a release build, checked by lintian and by what it holds.
bash scripts/package.sh
