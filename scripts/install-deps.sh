#!/usr/bin/env bash
# Installs every Debian package that building, running and testing Tulmo need.
# Does nothing when all of them are already present.
set -euo pipefail

PACKAGES=(
  # toolchain
  g++ make cmake ccache pkg-config git
  # Qt 6
  qt6-base-dev libqt6sql6-ibase qt6-serialport-dev qt6-multimedia-dev libqt6multimedia6 libgl-dev
  # Qt's own texts (standard buttons, context menus, print dialogs) in Portuguese
  qt6-translations-l10n
  # the media player's pipeline: file source and decoding (base), WAV and the sound-server
  # output (good)
  gstreamer1.0-plugins-base gstreamer1.0-plugins-good
  fonts-dejavu-core
  # Firebird 3 client library and the embedded engine; the server, for a station of several
  # workstations and for the tests that start a private one on loopback
  firebird3.0-server-core libfbclient2 firebird-dev firebird3.0-utils firebird3.0-server
  # mail
  libcurl4-openssl-dev
  # AES of the encrypted DC-09 messages (libcrypto)
  libssl-dev
  # tests: SMTP server on loopback (openssl makes its certificate), X server for screenshots
  python3 python3-aiosmtpd openssl xvfb xauth
  # tests: the text of the printed reports (pdftotext)
  poppler-utils
  # fuzzers: clang and its libFuzzer runtime
  clang libclang-rt-14-dev
  # the Debian package: its library dependencies (dpkg-shlibdeps) and its check
  dpkg-dev lintian
  # its install test: a fresh Debian root to install it into
  debootstrap
)

missing=()
for p in "${PACKAGES[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi

SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi
echo "Instalando: ${missing[*]}"
$SUDO env DEBIAN_FRONTEND=noninteractive apt-get update -q
$SUDO env DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends "${missing[@]}"
