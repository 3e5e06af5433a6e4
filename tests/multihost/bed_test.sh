#!/bin/bash
# bed_test.sh PROBE_DIR - checks the multi-host test bed itself with mh_probe
# (built into PROBE_DIR), before any product binary is involved:
#   - the virtual machine lists alpha, beta, gamma in configuration order;
#   - a task spawned with PvmTaskHost on host H really runs on H: its host
#     name is H, PVM places it on H (pvm_tidtohost) and its network namespace
#     is H's (inode of /proc/self/ns/net against /run/netns/<prefix>H);
#   - a variable named in PVM_EXPORT reaches tasks on every host, one that is
#     not exported reaches none (the pvmds run with a clean environment);
#   - MH_RUN_ON runs a command on another host;
#   - a host deleted in the middle of a run leaves the virtual machine and no
#     task can be spawned there any more (PvmNoHost);
#   - --fail-host makes spawning on that host fail with PvmNoFile;
#   - after each run nothing of the bed is left (namespaces, processes, files).
set -u
. "$(dirname "${BASH_SOURCE[0]}")/mh_lib.sh"

# Checks the "task" lines of mh_probe spawn in file $1: every task runs where
# it was asked to, and variable value $2 arrived. Sets TASK_COUNT.
check_tasks() {
  local line asked pvmhost hostname netns var inode
  TASK_COUNT=0
  while read -r line; do
    case $line in task\ *) ;; *) continue ;; esac
    TASK_COUNT=$((TASK_COUNT + 1))
    asked=$(sed -n 's/.* asked=\([^ ]*\).*/\1/p' <<<"$line")
    pvmhost=$(sed -n 's/.* pvmhost=\([^ ]*\).*/\1/p' <<<"$line")
    hostname=$(sed -n 's/.* hostname=\([^ ]*\).*/\1/p' <<<"$line")
    netns=$(sed -n 's/.* netns=net:\[\([0-9]*\)\].*/\1/p' <<<"$line")
    var=$(sed -n 's/.* var=\([^ ]*\).*/\1/p' <<<"$line")
    inode=$(stat -L -c %i "/run/netns/$MH_NETNS_PREFIX$asked" 2>/dev/null)
    [ "$pvmhost" = "$asked" ] || mh_fail "task asked on $asked: PVM placed it on $pvmhost"
    [ "$hostname" = "$asked" ] || mh_fail "task asked on $asked: its host name is $hostname"
    [ -n "$inode" ] && [ "$netns" = "$inode" ] ||
      mh_fail "task asked on $asked: network namespace $netns, host's is $inode"
    [ "$var" = "$2" ] || mh_fail "task on $asked: variable is '$var', expected '$2'"
  done <"$1"
}

# Runs inside the three-host bed, on beta.
inner_main() {
  local out=$1/probe.out
  echo "$MH_ID" >"$1/id"
  "$PROBE_DIR/mh_probe" conf >"$out" || mh_fail "mh_probe conf failed"
  printf 'host alpha 40000\nhost beta 80000\nhost gamma c0000\n' >"$1/conf.expected"
  mh_same_file "$out" "$1/conf.expected" "host list of the virtual machine"

  MH_SHOWN=yes PVM_EXPORT=MH_SHOWN "$PROBE_DIR/mh_probe" spawn VAR=MH_SHOWN alpha beta gamma beta >"$out" ||
    mh_fail "spawn on alpha beta gamma beta failed: $(cat "$out")"
  check_tasks "$out" yes
  [ "$TASK_COUNT" = 4 ] || mh_fail "expected 4 task reports, got $TASK_COUNT: $(cat "$out")"

  MH_HIDDEN=yes "$PROBE_DIR/mh_probe" spawn VAR=MH_HIDDEN gamma alpha >"$out" ||
    mh_fail "spawn on gamma alpha failed: $(cat "$out")"
  check_tasks "$out" "(unset)"
  [ "$TASK_COUNT" = 2 ] || mh_fail "expected 2 task reports, got $TASK_COUNT: $(cat "$out")"

  [ "$("$MH_RUN_ON" gamma hostname)" = gamma ] || mh_fail "MH_RUN_ON gamma hostname is not gamma"
  [ "$("$MH_RUN_ON" gamma pwd)" = "$PWD" ] || mh_fail "MH_RUN_ON does not keep the current directory"

  # Delete gamma while the virtual machine runs.
  "$MH_CONSOLE" alpha "delete gamma" >"$out" 2>&1
  grep -q "gamma *deleted" "$out" || mh_fail "console delete gamma: $(cat "$out")"
  "$PROBE_DIR/mh_probe" conf >"$out"
  printf 'host alpha 40000\nhost beta 80000\n' >"$1/conf.expected"
  mh_same_file "$out" "$1/conf.expected" "host list after deleting gamma"
  "$PROBE_DIR/mh_probe" spawn gamma >"$out"
  grep -q "^spawn gamma failed numt=0 code=-6$" "$out" || mh_fail "spawn on deleted gamma: $(cat "$out")"
  # gamma's pvmd ends on its own.
  mh_wait_host_empty gamma 5 || mh_fail "processes still run on deleted gamma"
  exit "$MH_FAILED"
}

# Runs inside the bed where gamma cannot start tasks, on beta.
inner_failhost() {
  local out=$1/probe.out i
  echo "$MH_ID" >"$1/id"
  "$PROBE_DIR/mh_probe" spawn alpha gamma beta >"$out"
  grep -q "^spawn gamma failed numt=0 code=-7$" "$out" || mh_fail "spawn on failing gamma: $(cat "$out")"
  check_tasks "$out" "(unset)"
  [ "$TASK_COUNT" = 2 ] || mh_fail "expected 2 task reports, got $TASK_COUNT: $(cat "$out")"
  exit "$MH_FAILED"
}

if [ "${1:-}" = --inner ]; then
  PROBE_DIR=$3
  "inner_$2" "$4"
fi

PROBE_DIR=$(cd "${1:?usage: bed_test.sh PROBE_DIR}" 2>/dev/null && pwd) || mh_skip "no directory $1"
[ -x "$PROBE_DIR/mh_probe" ] || mh_skip "$PROBE_DIR/mh_probe is not built"
WORK=$(mktemp -d "${TMPDIR:-/tmp}/mh_bed_test.XXXXXX")
trap 'rm -rf "$WORK"' EXIT
cd "$WORK" || exit 1

for run in main failhost; do
  mkdir -p "$WORK/$run"
  opts=(--ep "$PROBE_DIR" --master beta --timeout 60 --logs "$WORK/$run/logs")
  [ "$run" = failhost ] && opts+=(--fail-host gamma)
  mh_bed run "${opts[@]}" -- "$MH_DIR/bed_test.sh" --inner "$run" "$PROBE_DIR" "$WORK/$run"
  rc=$?
  [ "$rc" = 0 ] || mh_fail "run '$run' ended with status $rc"
  if [ -s "$WORK/$run/id" ]; then
    mh_check_bed_gone "$(cat "$WORK/$run/id")"
  else
    mh_fail "run '$run' did not start its command"
  fi
  if [ "$MH_FAILED" != 0 ]; then
    for f in "$WORK/$run"/logs/*; do [ -e "$f" ] && { echo "---- $f" >&2; tail -n 20 "$f" >&2; }; done
    break
  fi
done
[ "$MH_FAILED" = 0 ] && echo "multihost test bed: all checks passed"
exit "$MH_FAILED"
