#!/usr/bin/env bash
# A station to try without equipment: installs what is missing, builds the console and the
# simulator, makes a station folder (by default ~/tulmo-demo) of links to them with its own
# Dados/, readies it for the simulator's devices (a TCP/IP receiver on 9000 for 50 GPRS modules
# and DC-09 panels over TCP, a UDP/IP one on 9001 for DC-09 panels with an AES key) and starts
# the console there. The simulator is then started from the same folder, in another terminal.
set -euo pipefail
cd "$(dirname "$0")/.."
folder="${TULMO_DEMO:-$HOME/tulmo-demo}"
bash scripts/install-deps.sh
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTULMO_TESTS=OFF >/dev/null
cmake --build build -j"$(nproc)" --target tulmo tulmo-simulador
mkdir -p "$folder"
for p in tulmo tulmo-simulador Sons; do
  ln -sfn "$PWD/build/$p" "$folder/$p"
done
# The set-up keeps what an earlier run left (receivers, modules, events).
"$folder/tulmo-simulador" --preparar-estacao "$folder" --porta 9000 --porta-udp 9001 \
  --modulos 50 --paineis 10 --chave 00112233445566778899AABBCCDDEEFF
echo "Em outro terminal, por exemplo:"
echo "  $folder/tulmo-simulador --servidor 127.0.0.1:9000 --modulos 50 --cenario rajada"
exec "$folder/tulmo" "$@"
