# shellcheck shell=bash disable=SC2034
# Shared by start, publish and stop (sourced, not run).

PROG=${0##*/}
# mariadbd and lighttpd live in sbin, which a bare PATH may lack.
case :$PATH: in *:/usr/sbin:*) ;; *) PATH=$PATH:/usr/sbin:/sbin ;; esac
DB_NAME=tarsenvik_update
TABLE=tarsenvik_version
# The launcher carries this account and password, so it may only read.
RO_USER=tarsenvikUpdate
RO_PASS=quarbelNightfox

die() { printf '%s: %s\n' "$PROG" "$*" >&2; exit 1; }

# "--opt VALUE": fails when VALUE is missing.
need_value() { [[ $# -ge 2 ]] || die "$1 needs a value"; }

# All paths of an instance follow from its folder.
set_dir() {
  [[ -n $1 ]] || die "empty --dir"
  DIR=$(realpath -m -- "$1")
  # The folder goes into lighttpd's config as a quoted string.
  [[ $DIR != *[\"\\$'\n']* ]] || die "unusable --dir: $DIR"
  DB_DIR=$DIR/db
  SOCKET=$DIR/mysqld.sock
  DB_PID=$DIR/mysqld.pid
  DB_LOG=$DIR/mysqld.err
  WWW=$DIR/www
  STAGING=$DIR/staging
  HTTP_CONF=$DIR/lighttpd.conf
  HTTP_PID=$DIR/lighttpd.pid
  HTTP_LOG=$DIR/lighttpd.err
  HTTP_ACCESS_LOG=$DIR/lighttpd.access.log
  ENV_FILE=$DIR/server.env
}

load_env() {
  [[ -f $ENV_FILE ]] || die "no update server in $DIR (run server/start first)"
  # shellcheck disable=SC1090
  . "$ENV_FILE"
}

# True while PID exists and is not a zombie.
proc_running() {
  local state
  state=$(sed -E 's/^.*\) (.).*/\1/' "/proc/$1/stat" 2>/dev/null) || return 1
  [[ -n $state && $state != Z ]]
}

# True when the pid file names a running process called NAME.
pid_alive() {
  local pid
  [[ -f $1 ]] || return 1
  pid=$(<"$1") || return 1
  [[ $pid =~ ^[0-9]+$ ]] || return 1
  [[ $(cat "/proc/$pid/comm" 2>/dev/null) == "$2" ]] && proc_running "$pid"
}

db_alive() {
  [[ -S $SOCKET ]] && command -v mariadb-admin >/dev/null &&
    timeout 10 mariadb-admin --no-defaults -S "$SOCKET" -uroot \
      --connect-timeout=2 ping >/dev/null 2>&1
}

# Root reaches the database through the socket only.
db_root() {
  timeout 30 mariadb --no-defaults -S "$SOCKET" -uroot --connect-timeout=5 \
    -N -B "$@"
}

# Polls CMD... every 0.1 s for at most SECONDS seconds.
wait_until() {
  local tries=$(($1 * 10)); shift
  while ((tries-- > 0)); do
    "$@" && return 0
    sleep 0.1
  done
  return 1
}

# Installs what a bare Debian lacks, without starting the distribution's
# own database and web services on their standard ports.
ensure_packages() {
  local pkgs=() c
  for c in mariadbd:mariadb-server mariadb:mariadb-client \
           mariadb-install-db:mariadb-server lighttpd:lighttpd curl:curl; do
    command -v "${c%%:*}" >/dev/null || pkgs+=("${c#*:}")
  done
  ((${#pkgs[@]})) || return 0
  echo "installing: ${pkgs[*]}"
  local policy=/usr/sbin/policy-rc.d own_policy=
  if [[ ! -e $policy ]]; then
    printf '#!/bin/sh\nexit 101\n' >"$policy" && chmod +x "$policy" && own_policy=1
  fi
  local rc=0
  { DEBIAN_FRONTEND=noninteractive apt-get update -q &&
    DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends \
      "${pkgs[@]}"; } || rc=$?
  [[ -z $own_policy ]] || rm -f "$policy"
  ((rc == 0)) || die "could not install ${pkgs[*]}"
}

# The release signing tool, in SIGN_TOOL: $TARSENVIK_SIGN_TOOL when set (a
# build tree's bin/tarsenvik-sign), else built on demand from server/tools
# into the source tree's build-sign/ (only a compiler, cmake and libsodium
# are needed; missing Debian packages are installed).
find_sign_tool() {
  if [[ -n ${TARSENVIK_SIGN_TOOL:-} ]]; then
    [[ -x $TARSENVIK_SIGN_TOOL ]] || die "TARSENVIK_SIGN_TOOL is not a program: $TARSENVIK_SIGN_TOOL"
    SIGN_TOOL=$TARSENVIK_SIGN_TOOL
    return
  fi
  local top build pkgs=() c
  top=$(cd "$(dirname "$(realpath "${BASH_SOURCE[0]}")")/.." && pwd)
  build=$top/build-sign
  for c in g++:g++ cmake:cmake make:make pkg-config:pkg-config; do
    command -v "${c%%:*}" >/dev/null || pkgs+=("${c#*:}")
  done
  pkg-config --exists libsodium 2>/dev/null || pkgs+=(libsodium-dev)
  if ((${#pkgs[@]})); then
    echo "installing: ${pkgs[*]}" >&2
    { DEBIAN_FRONTEND=noninteractive apt-get update -q &&
      DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends \
        "${pkgs[@]}"; } >&2 || die "could not install ${pkgs[*]}"
  fi
  # Two publishers at once build it once.
  mkdir -p "$build"
  (
    flock -w 300 8 || die "another build of the signing tool is still running"
    if [[ ! -f $build/CMakeCache.txt ]]; then
      cmake -S "$top/server/tools" -B "$build" -DCMAKE_BUILD_TYPE=Release >"$build/configure.log" 2>&1 ||
        { cat "$build/configure.log" >&2; die "could not configure the signing tool"; }
    fi
    cmake --build "$build" --target tarsenvik-sign >"$build/build.log" 2>&1 ||
      { cat "$build/build.log" >&2; die "could not build the signing tool"; }
  ) 8>"$build/.lock" || exit 1
  SIGN_TOOL=$build/bin/tarsenvik-sign
}
