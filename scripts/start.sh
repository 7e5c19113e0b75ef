#!/usr/bin/env bash
# Installs what is missing, builds the console and starts it on the embedded database
# (build/Dados/TULMO.FDB, created at first start).
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTULMO_TESTS=OFF >/dev/null
cmake --build build -j"$(nproc)" --target tulmo
exec ./build/tulmo "$@"
