#!/usr/bin/env bash
# The install test of the Debian package: installs it with apt into a fresh Debian root
# (debootstrap, minimal variant), prepares the station there, starts the reception service as
# its unit says and has the simulator's modules sent to it; stops the service, starts a console
# as an operator of the station's group and has the modules sent again. Every event must be
# answered, and both processes must end cleanly on SIGTERM.
#
#   bash scripts/install-test.sh build-pkg/tulmo_<version>_amd64.deb
#
# Where it cannot run (not root, no debootstrap, no Debian mirror, chroot or mount refused) it
# says why in one line and ends with 0; a failure of the package ends it with 1.
#
# The bootstrapped root is kept as a tarball in the cache folder ($TULMO_CI_CACHE, by default
# /var/cache/tulmo-ci) and the root's downloaded packages in a folder there, so that a later
# run downloads neither again; but each run unpacks a new root and removes it at the end.
set -euo pipefail

suite=bookworm
arch=amd64
variant=minbase
cache=${TULMO_CI_CACHE:-/var/cache/tulmo-ci}
started=$SECONDS

skip() { echo "teste de instalação pulado: $*"; exit 0; }
fail() { echo "teste de instalação: $*" >&2; exit 1; }
say() { echo "teste de instalação: $*"; }

[ $# -eq 1 ] || fail "uso: $0 <pacote .deb>"
deb=$(realpath -e -- "$1" 2>/dev/null) || fail "pacote não encontrado: $1"
case "$deb" in *.deb) ;; *) fail "não é um pacote .deb: $1" ;; esac

[ "$(id -u)" -eq 0 ] || skip "é preciso ser root (debootstrap, chroot e montagens)"
command -v debootstrap >/dev/null || skip "o debootstrap não está instalado (scripts/install-deps.sh o instala)"

# The mirror the host's apt uses, so that the root goes where the host may go.
mirror=${TULMO_DEBIAN_MIRROR:-}
if [ -z "$mirror" ]; then
  mirror=$(cat /etc/apt/sources.list.d/*.sources 2>/dev/null |
    awk '/^URIs:/ && $2 ~ /\/debian\/?$/ {print $2; exit}')
fi
if [ -z "$mirror" ]; then
  mirror=$(grep -hsE '^deb +(\[[^]]*\] +)?https?://[^ ]*/debian/? ' /etc/apt/sources.list /etc/apt/sources.list.d/*.list |
    sed -E 's/^deb +(\[[^]]*\] +)?//; s/ .*//' | head -n1)
fi
mirror=${mirror:-http://deb.debian.org/debian}
mirror=${mirror%/}
# wget comes with debootstrap, which downloads with it.
wget -q -T 20 -t 2 -O /dev/null "$mirror/dists/$suite/InRelease" ||
  skip "sem acesso ao espelho Debian ($mirror)"

mkdir -p "$cache/apt-archives/partial" "$cache/debootstrap-debs"
tarball="$cache/debootstrap-$suite-$arch-$variant.tar.gz"
work=$(mktemp -d /var/tmp/tulmo-install.XXXXXX)
root="$work/root"

# "pid ppid" of every process, read at once.
process_table() {
  awk '/^PPid:/ {split(FILENAME, f, "/"); print f[3], $2; nextfile}' /proc/[0-9]*/status 2>/dev/null || true
}

# The only child of a process.
child_of() {
  local child
  child=$(process_table | awk -v p="$1" '$2 == p {print $1; exit}')
  [ -n "$child" ] && echo "$child"
}

# Kills a process and all that descends from it.
kill_tree() {
  local p
  for p in $(process_table | awk -v top="$1" '{parent[$1] = $2}
      END {for (p in parent) {q = p; while ((q in parent) && q != top && q > 1) q = parent[q]
                              if (q == top) print p}}'); do
    kill -KILL "$p" 2>/dev/null
  done
}

# Runs a command in the background and waits for it: a Ctrl-C ends the wait at once (a
# command in the foreground, apt's among them, would be waited for to its end) and the
# cleanup ends the command.
waited_pid=""
waited() {
  local rc=0
  "$@" &
  waited_pid=$!
  wait "$waited_pid" || rc=$?
  waited_pid=""
  return "$rc"
}

# Every mount point under the work folder, deepest first (debootstrap's own included, should
# it have stopped half way).
mounts_under_work() {
  awk -v w="$work/" 'index($5, w) == 1 {print $5}' /proc/self/mountinfo | sort -r
}

# Ends every process whose root is the test's root, unmounts what is mounted under it, and
# removes it only when nothing is mounted there any more: a bind mount of the cache must never
# be removed with it.
cleanup() {
  local rc=$? p m left
  trap - EXIT INT TERM
  set +e
  [ -n "$waited_pid" ] && kill_tree "$waited_pid"
  if [ -d "$root" ]; then
    for p in /proc/[0-9]*; do
      [ "$(readlink "$p/root" 2>/dev/null)" = "$root" ] && kill -KILL "${p#/proc/}" 2>/dev/null
    done
    sleep 0.2
  fi
  for m in $(mounts_under_work); do
    umount "$m" 2>/dev/null || umount -l "$m"
  done
  left=$(mount | grep -F "$work")
  if [ -n "$left" ]; then
    echo "teste de instalação: montagens que ficaram, $work não foi apagado:" >&2
    echo "$left" >&2
    rc=1
  else
    rm -rf --one-file-system "$work"
  fi
  exit "$rc"
}
trap cleanup EXIT
trap 'exit 130' INT
trap 'exit 143' TERM

# What a container may refuse: chroot, and mounting.
chroot / /bin/true 2>/dev/null || skip "chroot recusado"
mkdir "$work/probe"
mount -t tmpfs tmpfs "$work/probe" 2>/dev/null || skip "montagem recusada"
umount "$work/probe"
rmdir "$work/probe"

# The base root, bootstrapped once and kept as a tarball; one run at a time makes it.
exec 9>"$cache/.lock"
flock 9
if [ ! -s "$tarball" ]; then
  say "criando a raiz Debian $suite ($variant) com o debootstrap a partir de $mirror"
  t0=$SECONDS
  if ! waited debootstrap --variant="$variant" --arch="$arch" --cache-dir="$cache/debootstrap-debs" \
      "$suite" "$work/bootstrap" "$mirror" >"$work/debootstrap.log" 2>&1; then
    tail -n 30 "$work/debootstrap.log" >&2
    [ -f "$work/bootstrap/debootstrap/debootstrap.log" ] &&
      tail -n 30 "$work/bootstrap/debootstrap/debootstrap.log" >&2
    fail "o debootstrap falhou"
  fi
  for m in $(mounts_under_work); do umount "$m"; done
  # Without its device nodes: the host's /dev is mounted there.
  tar --numeric-owner -C "$work/bootstrap" --exclude='./dev/?*' -czf "$tarball.tmp" .
  mv "$tarball.tmp" "$tarball"
  rm -rf --one-file-system "$work/bootstrap"
  say "raiz criada em $((SECONDS - t0)) s e guardada em $tarball"
fi
flock -u 9

t0=$SECONDS
mkdir "$root"
tar --numeric-owner -C "$root" -xzf "$tarball"
chroot "$root" /bin/true 2>/dev/null || skip "chroot recusado na raiz nova"
mount_in_root() {
  local target=$root$1
  shift
  mount "$@" "$target" 2>/dev/null || skip "montagem recusada (${target#"$root"} na raiz)"
}
mount_in_root /proc -t proc proc
mount_in_root /sys --bind /sys
mount_in_root /dev --bind /dev
mount_in_root /dev/pts --bind /dev/pts
mount_in_root /dev/shm -t tmpfs -o mode=1777 tmpfs
mount_in_root /var/cache/apt/archives --bind "$cache/apt-archives"

# The host's apt settings and sources (its mirror, its proxy settings), and the keyrings they
# name that the root lacks; the root keeps its own sources if none of the host's is for its
# suite.
cp -a /etc/apt/apt.conf.d/. "$root/etc/apt/apt.conf.d/"
if grep -qsw "$suite" /etc/apt/sources.list /etc/apt/sources.list.d/*.list /etc/apt/sources.list.d/*.sources; then
  rm -f "$root/etc/apt/sources.list"
  [ -f /etc/apt/sources.list ] && cp /etc/apt/sources.list "$root/etc/apt/"
  for f in /etc/apt/sources.list.d/*.list /etc/apt/sources.list.d/*.sources; do
    [ -f "$f" ] && cp "$f" "$root/etc/apt/sources.list.d/"
  done
  for k in $(grep -hsoiE '(Signed-By: *|signed-by=)/[^] ]+' "$root"/etc/apt/sources.list \
      "$root"/etc/apt/sources.list.d/* | sed -E 's/^[^/]*//'); do
    [ -e "$root$k" ] || { mkdir -p "$(dirname "$root$k")"; cp "$k" "$root$k"; }
  done
fi
# Downloaded packages stay in the cache folder; no service of an installed package starts.
echo 'APT::Keep-Downloaded-Packages "true";' >"$root/etc/apt/apt.conf.d/99tulmo-install-test"
printf '#!/bin/sh\nexit 101\n' >"$root/usr/sbin/policy-rc.d"
chmod 755 "$root/usr/sbin/policy-rc.d"
cp /etc/resolv.conf "$root/etc/resolv.conf"
cp "$deb" "$root/tmp/"

# In the root, with a clean environment.
in_root() {
  chroot "$root" /usr/bin/env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin LANG=C.UTF-8 \
    DEBIAN_FRONTEND=noninteractive "$@"
}

say "raiz nova desempacotada em $((SECONDS - t0)) s"
t0=$SECONDS
say "instalando $(basename "$deb") com o apt numa raiz Debian $suite nova"
if ! waited in_root apt-get update -q >"$work/apt.log" 2>&1; then
  tail -n 30 "$work/apt.log" >&2
  fail "apt-get update falhou na raiz"
fi
# Without the recommended packages: what Depends names must be enough. No fsync: the root is
# thrown away.
cached=$(find "$cache/apt-archives" -maxdepth 1 -name '*.deb' | wc -l)
if ! waited in_root sh -c "cd /tmp && apt-get install -y -q --no-install-recommends \
    -o Dpkg::Options::=--force-unsafe-io ./$(basename "$deb")" >>"$work/apt.log" 2>&1; then
  tail -n 40 "$work/apt.log" >&2
  fail "o pacote não se instalou"
fi
downloaded=$(($(find "$cache/apt-archives" -maxdepth 1 -name '*.deb' | wc -l) - cached))
# The cache keeps only what the mirror still has.
in_root apt-get autoclean -q >/dev/null 2>&1 || true
say "instalado em $((SECONDS - t0)) s ($(grep -cE '^(Unpacking|Desempacotando) ' "$work/apt.log") pacotes, $downloaded baixados do espelho)"

station=/var/lib/tulmo
unit="$root/usr/lib/systemd/system/tulmo-recepcao.service"
[ -f "$unit" ] || fail "a unidade do serviço não foi instalada"
unit_value() { sed -nE "s/^$1=(.*)$/\1/p" "$unit" | tail -n1; }
user=$(unit_value User)
exec_start=$(unit_value ExecStart)
umask_value=$(unit_value UMask)
stop_timeout=$(unit_value TimeoutStopSec)
umask_value=${umask_value:-0022}
stop_timeout=${stop_timeout:-90}
[ -n "$user" ] && [ -n "$exec_start" ] || fail "a unidade do serviço não diz User= e ExecStart="
in_root getent passwd "$user" >/dev/null || fail "a instalação não criou o usuário $user"
in_root getent group tulmo >/dev/null || fail "a instalação não criou o grupo tulmo"
modes=$(in_root stat -c '%U:%G %a' "$station" "$station/Dados" | tr '\n' ' ')
[ "$modes" = "root:tulmo 2775 tulmo:tulmo 2775 " ] ||
  fail "a pasta da central e Dados/ não são root:tulmo 2775 e tulmo:tulmo 2775: $modes"

# A free TCP port of loopback for the receiver: the root shares the host's network.
port=""
for candidate in $(shuf -i 20000-29999 -n 50); do
  hex=$(printf ':%04X ' "$candidate")
  if ! grep -qF "$hex" /proc/net/tcp /proc/net/tcp6 2>/dev/null; then port=$candidate; break; fi
done
[ -n "$port" ] || fail "nenhuma porta TCP livre"
modules=10

# Runs a command in the root as a user, with a umask.
as_user() {
  local who=$1 mask=$2
  shift 2
  in_root runuser -u "$who" -- sh -c 'umask "$0"; exec "$@"' "$mask" "$@"
}

# True while a TCP port is being listened on (state 0A).
listening() {
  awk -v p="$(printf '%04X' "$1")" 'NR > 1 && $4 == "0A" && substr($2, length($2) - 3) == p {f = 1} END {exit !f}' \
    /proc/net/tcp /proc/net/tcp6 2>/dev/null
}

# The program at the end of a chain of starters (subshell, chroot, runuser, sh): the last of
# the only children.
program_of() {
  local pid=$1 next
  while next=$(child_of "$pid"); do pid=$next; done
  echo "$pid"
}

# Sends SIGTERM to the program that background job $2 started (not to runuser, which would
# kill it two seconds later) and waits for a clean end.
stop_program() {
  local name=$1 runner=$2 log=$3 program ticks=0 rc=0
  program=$(program_of "$runner")
  [ "$program" != "$runner" ] || fail "$name: processo não encontrado"
  kill -TERM "$program"
  while kill -0 "$runner" 2>/dev/null; do
    if [ "$ticks" -ge $((stop_timeout * 10)) ]; then
      cat "$log" >&2
      fail "$name não terminou em ${stop_timeout} s depois do SIGTERM"
    fi
    sleep 0.1
    ticks=$((ticks + 1))
  done
  wait "$runner" || rc=$?
  if [ "$rc" -ne 0 ]; then
    cat "$log" >&2
    fail "$name terminou com código $rc depois do SIGTERM"
  fi
}

# The simulator's modules against the receiver: every event answered, every module identified.
play_modules() {
  local who=$1 log="$work/simulador-$1.log" rc=0
  waited timeout 180 chroot "$root" /usr/bin/env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin LANG=C.UTF-8 \
    runuser -u nobody -- "$station/tulmo-simulador" --servidor "127.0.0.1:$port" \
    --modulos "$modules" --duracao 3 >"$log" 2>&1 || rc=$?
  # "eventos enviados: N, confirmados: N, sem resposta: 0", with N above 0.
  if [ "$rc" -ne 0 ] || ! grep -qE "^eventos enviados: ([1-9][0-9]*), confirmados: \1, sem resposta: 0$" "$log" ||
      ! grep -qF "(identificados no fim: $modules)" "$log"; then
    cat "$log" >&2
    [ -n "${2:-}" ] && { echo "--- $who:" >&2; cat "$2" >&2; }
    fail "os módulos não foram todos atendidos pelo $who (simulador: código $rc)"
  fi
  say "$who: $(grep -m1 '^eventos enviados' "$log"); $(grep -m1 'identificados no fim' "$log")"
}

# The station's preparation: a TCP receiver and the modules registered as active.
if ! waited as_user "$user" "$umask_value" "$station/tulmo-simulador" --preparar-estacao "$station" \
    --porta "$port" --modulos "$modules" >"$work/preparo.log" 2>&1; then
  cat "$work/preparo.log" >&2
  fail "a preparação da central falhou"
fi

# The reception service, as its unit starts it.
service_log="$work/recepcao.log"
as_user "$user" "$umask_value" "$exec_start" >"$service_log" 2>&1 &
service_pid=$!
for _ in $(seq 600); do
  grep -q "Recepção iniciada em" "$service_log" && break
  kill -0 "$service_pid" 2>/dev/null || break
  sleep 0.1
done
if ! grep -q "Recepção iniciada em" "$service_log"; then
  cat "$service_log" >&2
  fail "o serviço de recepção não iniciou"
fi
say "$(grep -m1 "Recepção iniciada em" "$service_log")"
for _ in $(seq 100); do listening "$port" && break; sleep 0.1; done
listening "$port" || { cat "$service_log" >&2; fail "o serviço não escuta a porta $port"; }
play_modules "serviço de recepção" "$service_log"
stop_program "o serviço de recepção" "$service_pid" "$service_log"
service_pid=""
grep -q "Recepção encerrada" "$service_log" || { cat "$service_log" >&2; fail "o serviço não encerrou a recepção"; }

# A console, started through the package's command by an operator of the station's group.
in_root adduser --quiet --disabled-password --gecos "" operador >/dev/null
in_root adduser --quiet operador tulmo
console_log="$work/console.log"
in_root QT_QPA_PLATFORM=offscreen runuser -u operador -- /usr/bin/tulmo >"$console_log" 2>&1 &
console_pid=$!
for _ in $(seq 600); do
  listening "$port" && break
  kill -0 "$console_pid" 2>/dev/null || break
  sleep 0.1
done
listening "$port" || { cat "$console_log" >&2; fail "o console não escuta a porta $port"; }
play_modules "console" "$console_log"
stop_program "o console" "$console_pid" "$console_log"
console_pid=""

say "ok em $((SECONDS - started)) s"
