#!/bin/bash
# testbed.sh - a private multi-host PVM virtual machine on one Linux machine.
#
# Every test host (default: alpha beta gamma) is a network namespace with its
# own address in a private subnet, its own host name (UTS namespace), its own
# PVM_TMP directory and a hosts file naming all test hosts, bind-mounted over
# /etc/hosts inside a mount namespace (the machine's own /etc/hosts is never
# changed). The hosts' veth links meet on a bridge that lives in a namespace of
# its own, so nothing of the bed appears in the machine's network namespace.
# The master pvmd runs on the first host; it starts the other pvmds through the
# PVM_RSH wrapper, which runs PVM's command string on the named test host.
#
# Usage:
#   testbed.sh run [OPTIONS] [-- CMD ARGS...]
#       Bring the bed up, wait until every host is in the virtual machine, run
#       CMD on the master host (see --master) in the current directory, halt
#       the virtual machine and tear everything down. Exit status: CMD's.
#       Without CMD an interactive shell is started on that host.
#   testbed.sh clean-stale
#       Remove what beds killed without tear-down (for instance by SIGKILL)
#       left behind: namespaces mh<PID>-* whose testbed.sh process <PID> is
#       gone, and the processes inside them. `run` does this first, too.
#
# Options of run:
#   --master HOST     host on which CMD runs (default beta, or the only host)
#   --hosts "A B C"   test hosts in configuration order (default
#                     "alpha beta gamma"); the first one runs the master pvmd
#   --ep DIR          executable search path (ep=) of spawned tasks (default
#                     build/bin of this source tree)
#   --wd DIR          working directory (wd=) of spawned tasks (default: the
#                     current directory)
#   --fail-host HOST  ep= of HOST names an empty directory, so no task can be
#                     spawned there (PvmNoFile)
#   --timeout SECS    CMD is killed after SECS seconds (default 120); the bed
#                     then reports status 124
#   --logs DIR        copy the pvmd logs (pvml.<uid> of each host), the rsh
#                     log and the hostfile into DIR at tear-down
#
# Environment CMD gets, on top of the caller's:
#   PVM_ROOT, PVM_TMP (of the host), PVM_ALLOW_ROOT=1, PVM_RSH
#   MH_HOST      name of the host CMD runs on
#   MH_HOSTS     all test hosts, in configuration order
#   MH_RUN_ON    "$MH_RUN_ON HOST CMD ARGS..." runs a command on another host
#                (same environment rules, current directory kept)
#   MH_CONSOLE   "$MH_CONSOLE HOST 'conf' 'delete gamma' ..." feeds the lines
#                to the pvm console on HOST (refuses when HOST runs no pvmd,
#                so the console never starts a daemon of its own). The
#                console's command to take a host out is "delete"; "halt"
#                ends the console too (status 143).
#   MH_NETNS_PREFIX  the network namespace of host H is
#                /run/netns/${MH_NETNS_PREFIX}H (compare its inode with
#                /proc/PID/ns/net to see where process PID runs)
#   MH_ID        the bed's id (the pid of testbed.sh)
#
# The pvmds start with a clean environment (PATH, HOME=a directory of the bed,
# LANG=C and the PVM variables above). Spawned tasks inherit their pvmd's
# environment, so a variable of the spawning task reaches them only when that
# task lists it in PVM_EXPORT.
#
# pvmd starts a slave as "$PVM_RSH HOST 'pvmd -s -d0x0 -nHOST 1 <master
# ip:port> <mtu> <index> <slave ip>:0000'": two arguments, the whole command
# in one string (an "-l USER" would come with lo=). The wrapper logs every
# call to rsh.log (see --logs) and runs the string on HOST with /bin/sh.
#
# Where did a task run? A process runs on host H when /proc/PID/ns/net is the
# namespace /run/netns/${MH_NETNS_PREFIX}H (same inode); its host name
# (gethostname) is then H, and PVM's host for its tid (pvm_tidtohost, the
# HOST column of the console's "ps -a") is H. bed_test.sh checks all three.
#
# Exit status 77 (skip) when the bed cannot be built here: not root, no
# network or mount namespaces, PVM or iproute2 missing. With CI=true these
# are failures (status 1) instead. A virtual machine that does not come up
# in working namespaces is always a failure (status 1).
set -u

SELF_DIR=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
PVM_ROOT_DIR=/usr/lib/pvm3
VM_WAIT=30         # seconds for all hosts to join the virtual machine
CONSOLE_WAIT=20    # seconds for one console session
KILL_WAIT=5        # seconds between SIGTERM and SIGKILL at tear-down

usage() { sed -n '2,/^set -u/p' "${BASH_SOURCE[0]}" | sed -e '$d' -e 's/^# \{0,1\}//'; }

# The bed cannot be built on this machine: skip, or fail under CI.
cannot_build() {
  echo "testbed: SKIP: $*" >&2
  if [ "${CI:-}" = true ]; then
    echo "testbed: CI=true, so this is a failure" >&2
    exit 1
  fi
  exit 77
}

fail() { echo "testbed: $*" >&2; exit 1; }

# Processes inside network namespace $1 (empty when there is none).
ns_pids() { ip netns pids "$1" 2>/dev/null; }

# Kills every process inside the namespaces given, TERM first, KILL after a
# bounded wait. Only processes of the bed's own namespaces are touched.
kill_in_namespaces() {
  local ns pids left i
  pids=""
  for ns in "$@"; do pids="$pids $(ns_pids "$ns")"; done
  [ -n "${pids// /}" ] || return 0
  # shellcheck disable=SC2086
  kill -TERM $pids 2>/dev/null
  for ((i = 0; i < KILL_WAIT * 10; i++)); do
    left=""
    for ns in "$@"; do left="$left$(ns_pids "$ns")"; done
    [ -z "$left" ] && return 0
    sleep 0.1
  done
  for ns in "$@"; do
    pids=$(ns_pids "$ns")
    # shellcheck disable=SC2086
    [ -n "$pids" ] && kill -KILL $pids 2>/dev/null
  done
  return 0
}

# True when process $1 is a running testbed.sh.
bed_alive() {
  [ -r "/proc/$1/cmdline" ] && tr '\0' ' ' <"/proc/$1/cmdline" 2>/dev/null | grep -q 'testbed\.sh'
}

# Removes what beds whose testbed.sh process is gone left behind: their
# namespaces (and the processes inside) and their directories.
clean_stale() {
  local f name id ids="" nslist tmp_root=${TMPDIR:-/tmp}
  for f in /run/netns/mh*-* "$tmp_root"/mhbed.*; do
    [ -e "$f" ] || continue
    name=${f##*/}
    case $name in
      mhbed.*) id=${name#mhbed.}; id=${id%%.*} ;;
      *) id=${name#mh}; id=${id%%-*} ;;
    esac
    case $id in '' | *[!0-9]*) continue ;; esac
    [ "$id" = "$$" ] && continue
    bed_alive "$id" && continue
    case " $ids " in *" $id "*) ;; *) ids="$ids $id" ;; esac
  done
  for id in $ids; do
    nslist=$(cd /run/netns 2>/dev/null && ls -d "mh$id"-* 2>/dev/null)
    echo "testbed: removing stale bed mh$id:" "${nslist//$'\n'/ }" >&2
    # shellcheck disable=SC2086
    kill_in_namespaces $nslist
    for name in $nslist; do ip netns del "$name" 2>/dev/null; done
    rm -rf "$tmp_root/mhbed.$id".*
  done
  return 0
}

# ---------------------------------------------------------------- arguments
MODE=${1:-}
[ $# -gt 0 ] && shift
case $MODE in
  run) ;;
  clean-stale)
    [ "$(id -u)" = 0 ] || cannot_build "clean-stale needs root"
    clean_stale
    exit 0
    ;;
  -h | --help | help) usage; exit 0 ;;
  *) usage >&2; exit 2 ;;
esac

HOSTS="alpha beta gamma"
MASTER=""
EP_DIR="$SELF_DIR/../../build/bin"
WD_DIR=$PWD
FAIL_HOST=""
CMD_TIMEOUT=120
LOG_DIR=""
while [ $# -gt 0 ]; do
  case $1 in
    --master) MASTER=${2:?--master needs a host}; shift 2 ;;
    --hosts) HOSTS=${2:?--hosts needs a list}; shift 2 ;;
    --ep) EP_DIR=${2:?--ep needs a directory}; shift 2 ;;
    --wd) WD_DIR=${2:?--wd needs a directory}; shift 2 ;;
    --fail-host) FAIL_HOST=${2:?--fail-host needs a host}; shift 2 ;;
    --timeout) CMD_TIMEOUT=${2:?--timeout needs seconds}; shift 2 ;;
    --logs) LOG_DIR=${2:?--logs needs a directory}; shift 2 ;;
    --) shift; break ;;
    *) echo "testbed: unknown option $1" >&2; usage >&2; exit 2 ;;
  esac
done

read -r -a HOST_LIST <<<"$HOSTS"
NHOST=${#HOST_LIST[@]}
[ "$NHOST" -ge 1 ] && [ "$NHOST" -le 9 ] || fail "--hosts needs 1 to 9 hosts"
for h in "${HOST_LIST[@]}"; do
  [[ $h =~ ^[a-z][a-z0-9]{0,15}$ ]] || fail "bad host name '$h' (lower-case letters and digits)"
  [ "$h" != sw ] || fail "host name 'sw' is taken by the bridge namespace"
done
[ "$(printf '%s\n' "${HOST_LIST[@]}" | sort -u | wc -l)" = "$NHOST" ] || fail "--hosts lists a host twice"
if [ -z "$MASTER" ]; then
  if [ "$NHOST" -ge 2 ]; then MASTER=${HOST_LIST[1]}; else MASTER=${HOST_LIST[0]}; fi
fi
case " $HOSTS " in *" $MASTER "*) ;; *) fail "--master $MASTER is not one of: $HOSTS" ;; esac
if [ -n "$FAIL_HOST" ]; then
  case " $HOSTS " in *" $FAIL_HOST "*) ;; *) fail "--fail-host $FAIL_HOST is not one of: $HOSTS" ;; esac
fi
[[ $CMD_TIMEOUT =~ ^[1-9][0-9]*$ ]] || fail "--timeout needs a positive number of seconds"
[ -d "$EP_DIR" ] || fail "--ep directory $EP_DIR does not exist"
[ -d "$WD_DIR" ] || fail "--wd directory $WD_DIR does not exist"
EP_DIR=$(cd "$EP_DIR" && pwd)
WD_DIR=$(cd "$WD_DIR" && pwd)
# Hostfile options end at white space and take '$' as a variable.
for d in "$EP_DIR" "$WD_DIR"; do
  [[ $d =~ [[:space:]\$] ]] && fail "path '$d' holds blanks or '\$', which a PVM hostfile cannot carry"
done

# ------------------------------------------------------------ preconditions
[ "$(id -u)" = 0 ] || cannot_build "needs root (network namespaces, mounts)"
for tool in ip unshare timeout hostname mount; do
  command -v "$tool" >/dev/null 2>&1 || cannot_build "$tool is not installed"
done
[ -x "$PVM_ROOT_DIR/lib/pvmd" ] || cannot_build "pvmd is not installed ($PVM_ROOT_DIR/lib/pvmd)"
command -v pvm >/dev/null 2>&1 || cannot_build "the pvm console is not installed"

clean_stale

# ------------------------------------------------------------------- set-up
ID=$$
PFX="mh$ID-"
SW_NS="${PFX}sw"
BRIDGE="mhbr$ID"
SUBNET="10.213.$((ID % 250 + 1))"
TMP_ROOT=${TMPDIR:-/tmp}
BED=$(mktemp -d "$TMP_ROOT/mhbed.$ID.XXXXXX") || cannot_build "cannot create a directory in $TMP_ROOT"
MY_UID=$(id -u)
NAMESPACES=()
MASTER_PVMD_PID=""
CMD_PID=""

teardown() {
  local rc=$? ns h f i
  trap - EXIT INT TERM HUP
  set +e
  if [ -n "$CMD_PID" ] && kill -0 "$CMD_PID" 2>/dev/null; then
    kill -TERM "$CMD_PID" 2>/dev/null
  fi
  # Halt the virtual machine the polite way first: pvmds and tasks end.
  if [ -n "$MASTER_PVMD_PID" ] && kill -0 "$MASTER_PVMD_PID" 2>/dev/null &&
    [ -e "$BED/${HOST_LIST[0]}/tmp/pvmd.$MY_UID" ]; then
    # The halt ends the console too (SIGTERM); the subshell keeps bash quiet.
    ("$BED/console" "${HOST_LIST[0]}" halt) >/dev/null 2>&1
    # The master pvmd leaves last; give it a moment before the kill sweep.
    for ((i = 0; i < KILL_WAIT * 10; i++)); do
      kill -0 "$MASTER_PVMD_PID" 2>/dev/null || break
      sleep 0.1
    done
  fi
  # Whatever is left inside the bed's namespaces is the bed's own.
  kill_in_namespaces "${NAMESPACES[@]}"
  if [ -n "$LOG_DIR" ]; then
    mkdir -p "$LOG_DIR"
    for h in "${HOST_LIST[@]}"; do
      [ -e "$BED/$h/tmp/pvml.$MY_UID" ] && cp "$BED/$h/tmp/pvml.$MY_UID" "$LOG_DIR/pvml.$h"
    done
    for f in rsh.log hostfile pvmd.out; do [ -e "$BED/$f" ] && cp "$BED/$f" "$LOG_DIR/"; done
  fi
  for ns in "${NAMESPACES[@]}"; do ip netns del "$ns" 2>/dev/null; done
  rm -rf "$BED"
  exit "$rc"
}
trap teardown EXIT
trap 'exit 130' INT
trap 'exit 143' TERM
trap 'exit 129' HUP

# Prints the pvmd logs and the rsh log to stderr (when the bed fails).
dump_logs() {
  local f
  for f in "$BED"/*/tmp/pvml.* "$BED/rsh.log" "$BED/pvmd.out"; do
    [ -e "$f" ] || continue
    echo "---- ${f#$BED/}" >&2
    tail -n 40 "$f" >&2
  done
}

# Network: a bridge in its own namespace, one veth link per host.
new_ns() {
  ip netns add "$1" 2>/dev/null || return 1
  NAMESPACES+=("$1")
}
new_ns "$SW_NS" || cannot_build "cannot create network namespaces (ip netns add failed)"
ip -n "$SW_NS" link add "$BRIDGE" type bridge &&
  ip -n "$SW_NS" link set "$BRIDGE" up ||
  cannot_build "cannot create a bridge in a network namespace"
{
  echo "127.0.0.1 localhost"
  echo "::1 localhost ip6-localhost ip6-loopback"
} >"$BED/hosts"
i=0
for h in "${HOST_LIST[@]}"; do
  i=$((i + 1))
  ns="$PFX$h"
  veth="mh${ID}v$i"
  new_ns "$ns" || cannot_build "cannot create network namespace $ns"
  ip -n "$SW_NS" link add "$veth" type veth peer name eth0 netns "$ns" &&
    ip -n "$SW_NS" link set "$veth" master "$BRIDGE" &&
    ip -n "$SW_NS" link set "$veth" up &&
    ip -n "$ns" link set lo up &&
    ip -n "$ns" addr add "$SUBNET.$i/24" dev eth0 &&
    ip -n "$ns" link set eth0 up ||
    cannot_build "cannot connect namespace $ns to the bridge (veth)"
  echo "$SUBNET.$i $h" >>"$BED/hosts"
  mkdir -p "$BED/$h/tmp"
done
mkdir -p "$BED/empty" "$BED/home"

# on HOST CMD ARGS...: runs CMD on the test host HOST in the current directory.
cat >"$BED/on" <<EOF
#!/bin/bash
# Runs a command on a test host of bed $ID: its network namespace, its host
# name, its /etc/hosts and its PVM_TMP.
h=\${1:?usage: on HOST CMD ARGS...}
shift
[ \$# -gt 0 ] || { echo "on: no command" >&2; exit 2; }
case " $HOSTS " in *" \$h "*) ;; *) echo "on: unknown host \$h (hosts: $HOSTS)" >&2; exit 2 ;; esac
export PVM_ROOT=$PVM_ROOT_DIR PVM_TMP=$BED/\$h/tmp PVM_ALLOW_ROOT=1 PVM_RSH=$BED/rsh
export MH_HOST=\$h MH_HOSTS="$HOSTS" MH_RUN_ON=$BED/on MH_CONSOLE=$BED/console
export MH_NETNS_PREFIX=$PFX MH_ID=$ID MH_CWD="\$PWD"
unset PVM_VMID
exec ip netns exec "$PFX\$h" unshare --mount --uts --propagation private \\
  /bin/sh -c 'mount --bind "\$0" /etc/hosts && hostname "\$MH_HOST" && cd "\$MH_CWD" && exec "\$@"' \\
  "$BED/hosts" "\$@"
EOF

# PVM_RSH wrapper: pvmd runs "\$PVM_RSH HOST [-l USER] [-n] COMMAND-STRING".
cat >"$BED/rsh" <<EOF
#!/bin/bash
# PVM_RSH of bed $ID: runs the command string on the named test host.
{ printf '%s' "rsh"; printf ' [%s]' "\$@"; echo; } >>"$BED/rsh.log"
h=\${1:?usage: rsh HOST [-l USER] [-n] COMMAND}
shift
while [ \$# -gt 0 ]; do
  case \$1 in -n) shift ;; -l) shift 2 ;; *) break ;; esac
done
cd "$BED/home" || exit 1
exec "$BED/on" "\$h" /bin/sh -c "\$*"
EOF

# console HOST LINE...: feeds the lines to the pvm console on HOST.
cat >"$BED/console" <<EOF
#!/bin/bash
# Feeds lines to the pvm console on a test host of bed $ID; refuses when no
# pvmd runs there (the console would start one of its own).
h=\${1:?usage: console HOST LINE...}
shift
if [ ! -e "$BED/\$h/tmp/pvmd.$MY_UID" ]; then
  echo "console: no pvmd runs on \$h" >&2
  exit 1
fi
# HOME of the bed: no ~/.pvmrc of the machine's user changes the console.
printf '%s\n' "\$@" | HOME="$BED/home" timeout $CONSOLE_WAIT "$BED/on" "\$h" pvm
EOF
chmod +x "$BED/on" "$BED/rsh" "$BED/console"

# The namespaces work only if a command really runs inside them.
probe=$("$BED/on" "${HOST_LIST[0]}" /bin/sh -c 'hostname; getent hosts "$MH_HOST"' 2>&1)
case $probe in
  "${HOST_LIST[0]}"*"$SUBNET.1"*) ;;
  *) cannot_build "cannot run commands inside the test host namespaces: $probe" ;;
esac

# Hostfile: the hosts in the order given, the first one runs the master pvmd.
{
  echo "# test bed $ID"
  echo "* ep=$EP_DIR wd=$WD_DIR"
  for h in "${HOST_LIST[@]}"; do
    if [ "$h" = "$FAIL_HOST" ]; then echo "$h ep=$BED/empty"; else echo "$h"; fi
  done
} >"$BED/hostfile"

# Start the master pvmd (it stays in the foreground; slaves detach).
env -i PATH="$PATH" HOME="$BED/home" LANG=C \
  "$BED/on" "${HOST_LIST[0]}" "$PVM_ROOT_DIR/lib/pvmd" "$BED/hostfile" \
  </dev/null >"$BED/pvmd.out" 2>&1 &
MASTER_PVMD_PID=$!

# Wait (bounded) until the console lists every host.
vm_ready() {
  local out h
  [ -e "$BED/${HOST_LIST[0]}/tmp/pvmd.$MY_UID" ] || return 1
  out=$("$BED/console" "${HOST_LIST[0]}" conf 2>/dev/null) || return 1
  echo "$out" | grep -Eq "^ *$NHOST hosts?," || return 1
  for h in "${HOST_LIST[@]}"; do
    echo "$out" | grep -Eq "^ *$h +[0-9a-f]+ " || return 1
  done
  return 0
}
deadline=$((SECONDS + VM_WAIT))
until vm_ready; do
  if ! kill -0 "$MASTER_PVMD_PID" 2>/dev/null; then
    dump_logs
    fail "the master pvmd on ${HOST_LIST[0]} ended during start-up"
  fi
  if [ "$SECONDS" -ge "$deadline" ]; then
    dump_logs
    fail "not all of '$HOSTS' joined the virtual machine within $VM_WAIT s"
  fi
  sleep 0.3
done

# ---------------------------------------------------------------- run CMD
if [ $# -eq 0 ]; then
  echo "testbed: virtual machine up on: $HOSTS; shell on $MASTER (exit to tear down)" >&2
  "$BED/on" "$MASTER" "${SHELL:-/bin/bash}"
  exit $?
fi
# In the background, so that a signal to the bed is handled at once.
exec 3<&0
"$BED/on" "$MASTER" timeout -k 5 "$CMD_TIMEOUT" "$@" <&3 &
CMD_PID=$!
wait "$CMD_PID"
rc=$?
CMD_PID=""
[ "$rc" = 124 ] && echo "testbed: '$*' did not end within $CMD_TIMEOUT s" >&2
exit "$rc"
