# shellcheck shell=bash disable=SC2034  # MH_FAILED is read by the sourcing scripts
# mh_lib.sh - sourced by the multihost test scripts.
# Skip rules (status 77, a failure under CI=true), failure bookkeeping and
# bounded waits for the tasks of a test bed, or every process of one of its
# hosts, to go.

MH_DIR=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
MH_TESTBED="$MH_DIR/testbed.sh"
MH_FAILED=0

# The test cannot run here: skip, or fail under CI.
mh_skip() {
  echo "SKIP: $*" >&2
  if [ "${CI:-}" = true ]; then
    echo "CI=true: a skipped multihost test is a failure" >&2
    exit 1
  fi
  exit 77
}

# Records one failed check and goes on, so one run reports every fault.
mh_fail() {
  echo "FAIL: $*" >&2
  MH_FAILED=1
}

# Compares file $1 with the expected text in file $2; $3 names the check.
mh_same_file() {
  if ! cmp -s "$1" "$2"; then
    mh_fail "$3 differs (expected <, got >):"
    diff "$2" "$1" | sed -n '1,40p' | cat -A >&2
  fi
}

# Runs testbed.sh and passes its skip status on (77 stays a skip).
mh_bed() {
  "$MH_TESTBED" "$@"
  local rc=$?
  [ "$rc" = 77 ] && exit 77
  return "$rc"
}

# Inside a bed: pids of processes named $1 on any host of the bed.
mh_procs_named() {
  local h pid
  for h in $MH_HOSTS; do
    for pid in $(ip netns pids "$MH_NETNS_PREFIX$h" 2>/dev/null); do
      [ "$(cat "/proc/$pid/comm" 2>/dev/null)" = "$1" ] && echo "$h:$pid"
    done
  done
}

# Inside a bed: waits up to $2 seconds until no process named $1 runs on any
# host of the bed; prints what is left and fails when some remain.
mh_wait_gone() {
  local i left
  for ((i = 0; i < $2 * 10; i++)); do
    left=$(mh_procs_named "$1")
    [ -z "$left" ] && return 0
    sleep 0.1
  done
  echo "$left"
  return 1
}

# Inside a bed: waits up to $2 seconds until no process runs on host $1;
# fails when some remain.
mh_wait_host_empty() {
  local i
  for ((i = 0; ; i++)); do
    [ -z "$(ip netns pids "$MH_NETNS_PREFIX$1")" ] && return 0
    [ "$i" -ge $(($2 * 10)) ] && return 1
    sleep 0.1
  done
}

# Checks after a bed run: nothing of bed $1 is left on the machine.
mh_check_bed_gone() {
  local id=$1 f
  for f in /run/netns/mh"$id"-*; do
    [ -e "$f" ] && mh_fail "namespace ${f##*/} of bed $id left behind"
  done
  for f in "${TMPDIR:-/tmp}"/mhbed."$id".*; do
    [ -e "$f" ] && mh_fail "directory $f of bed $id left behind"
  done
  # Every process a bed starts has the bed's directory in its environment.
  if grep -l "mhbed\.$id\." /proc/[0-9]*/cmdline /proc/[0-9]*/environ >/dev/null 2>&1; then
    mh_fail "processes of bed $id still run"
  fi
}
