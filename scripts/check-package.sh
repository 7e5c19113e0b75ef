#!/usr/bin/env bash
# What the Debian package must hold: the three programs, the sounds, the desktop entry with its
# icon, the service's unit (not enabled), the station folder's links, its dependencies, and
# nothing the programs write under /usr.
set -euo pipefail
deb="$1"
contents=$(dpkg-deb -c "$deb" | awk '{print $6, $7, $8}')
fail() { echo "pacote: $*" >&2; exit 1; }
for f in ./usr/lib/tulmo/tulmo ./usr/lib/tulmo/tulmo-recepcao ./usr/lib/tulmo/tulmo-simulador \
         ./usr/lib/tulmo/Sons/P1Sound.wav ./usr/lib/tulmo/Sons/P8Sound.wav ./usr/bin/tulmo \
         ./usr/share/applications/tulmo.desktop ./usr/share/icons/hicolor/scalable/apps/tulmo.svg \
         ./usr/lib/systemd/system/tulmo-recepcao.service ./usr/share/doc/tulmo/copyright; do
  grep -qx -- "$f" <<<"$(awk '{print $1}' <<<"$contents")" || fail "falta $f"
done
for l in tulmo tulmo-recepcao tulmo-simulador Sons; do
  grep -qx -- "./var/lib/tulmo/$l -> /usr/lib/tulmo/$l" <<<"$contents" || fail "falta o link /var/lib/tulmo/$l"
done
# The programs write Dados/, Config.ini and reports in their program folder: the station
# folder, never /usr.
if awk '{print $1}' <<<"$contents" | grep -E '^\./usr/.*(Dados|\.ini|\.FDB|\.dat)' ; then
  fail "arquivo de dados sob /usr"
fi
grep -q '^ExecStart=/var/lib/tulmo/tulmo-recepcao$' <(dpkg-deb --fsys-tarfile "$deb" |
  tar -xO ./usr/lib/systemd/system/tulmo-recepcao.service) || fail "o serviço não usa a pasta da central"
depends=$(dpkg-deb -f "$deb" Depends)
for d in libqt6sql6-ibase firebird3.0-server-core libfbclient2 libcurl4 libssl3 libqt6widgets6 \
         libqt6multimedia6 libqt6serialport6 qt6-translations-l10n adduser; do
  grep -q "$d" <<<"$depends" || fail "falta a dependência $d"
done
# The install script tells about the groups (serial ports need dialout).
dpkg-deb -I "$deb" postinst | grep -q dialout || fail "a instalação não fala do grupo dialout"
echo "pacote: conteúdo conferido"
