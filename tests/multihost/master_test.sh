#!/bin/bash
# master_test.sh CASE BIN_DIR - runs the master (BIN_DIR/master) with its
# workers (BIN_DIR/torvo) on the multi-host test bed and checks where the
# workers ran. CASE is one of:
#   placement-beta   hosts alpha beta gamma, master on beta: the five workers
#                    go to beta, gamma, alpha, beta, gamma
#   placement-alpha  master on alpha: workers on alpha, beta, gamma, alpha, beta
#   same-output      the master's standard output on three hosts (master on
#                    beta) equals that of a one-host virtual machine
#   failed-spawn     gamma cannot start torvo: every spawn request is still
#                    made, the master reports the trouble in fort.1, ends with
#                    a non-zero status and leaves no worker behind
#   host-delete      gamma is deleted from the virtual machine while its two
#                    workers (members 1 and 4, master on beta) compute their
#                    first jobs (TORVO_DELAY_MS=1500): the run finishes on
#                    alpha and beta with the standard output of an
#                    undisturbed one-host run, fort.1 names the two lost
#                    members and their jobs, and no worker is left
#   master-killed    the master (on beta) is killed with SIGKILL while its
#                    workers on alpha, beta and gamma compute their first
#                    jobs: every worker ends by itself shortly after, saying
#                    in its task output file that its parent ended
# Where a worker ran is read twice: from the master's trace in fort.1 (the
# "prmhost(1)=" record before each spawn request) and from the worker's own
# task output file torvo_std<tid> (its "This computer =" record, the host name
# the worker sees). The host part of the task id (PVM 3.4: tid & 0x3ffc0000,
# the index of the host in configuration order) must name the same host.
# The workers find their output directory through TORVO_OUT, which reaches
# them only because the master's environment lists it in PVM_EXPORT (the
# pvmds of the bed run with a clean environment).
# Status 77 (skip) when the binaries are not built yet, a failure under CI=true.
set -u
. "$(dirname "${BASH_SOURCE[0]}")/mh_lib.sh"
NPROC=5

# Inside the bed, on the master's host, in run directory $2: run the master;
# with $3 = yes also wait (bounded) until no torvo task is left.
inner() {
  local bin=$1 dir=$2 left
  cd "$dir" || exit 1
  echo "$MH_ID" >id
  env TORVO_OUT="$dir/out" PVM_EXPORT=TORVO_OUT "$bin/master" >stdout 2>stderr
  echo $? >master.rc
  if [ "$3" = yes ]; then
    left=$(mh_wait_gone torvo 5) || echo "$left" >left.procs
    "$MH_CONSOLE" "$MH_HOST" "ps -a" >ps.out 2>&1
  fi
  exit 0
}

if [ "${1:-}" = --inner ]; then
  inner "$2" "$3" "$4"
fi

# Inside the bed, on the master's host, in run directory $2: run the master
# with workers that take $4 ms per job and, once every worker has started and
# is into its first job, disturb the run: $3 = delete deletes gamma from the
# virtual machine through the console of alpha (the master pvmd's host),
# $3 = kill kills the master. Then wait (bounded, $5 s) until no torvo task
# is left.
inner_disturbed() {
  local bin=$1 dir=$2 action=$3 pid i left
  cd "$dir" || exit 1
  echo "$MH_ID" >id
  env TORVO_OUT="$dir/out" TORVO_DELAY_MS="$4" PVM_EXPORT=TORVO_OUT:TORVO_DELAY_MS \
    "$bin/master" >stdout 2>stderr &
  pid=$!
  for ((i = 0; i < 100; i++)); do
    [ "$(find "$dir/out" -name 'torvo_std*' | wc -l)" -ge "$NPROC" ] && break
    sleep 0.1
  done
  sleep 0.5
  case $action in
    delete) "$MH_CONSOLE" alpha "delete gamma" >delete.out 2>&1 ;;
    kill) kill -KILL "$pid" ;;
  esac
  wait "$pid"
  echo $? >master.rc
  left=$(mh_wait_gone torvo "$5") || echo "$left" >left.procs
  exit 0
}

if [ "${1:-}" = --inner-disturbed ]; then
  inner_disturbed "$2" "$3" "$4" "$5" "$6"
fi

CASE=${1:?usage: master_test.sh CASE BIN_DIR}
BIN=$(cd "${2:?usage: master_test.sh CASE BIN_DIR}" 2>/dev/null && pwd) || mh_skip "no directory $2"
for prog in master torvo; do
  [ -x "$BIN/$prog" ] || mh_skip "$BIN/$prog is not built yet"
done
WORK=$(mktemp -d "${TMPDIR:-/tmp}/mh_master_test.XXXXXX")
trap 'rm -rf "$WORK"' EXIT

# Host that receives task t (0-based) when the master runs on $1 of hosts $2.
task_host() {
  local -a hl
  local k
  read -r -a hl <<<"$2"
  for ((k = 0; k < ${#hl[@]}; k++)); do [ "${hl[k]}" = "$1" ] && break; done
  echo "${hl[(k + $3) % ${#hl[@]}]}"
}

# The exact fort.1 of the master on $1 with hosts $2; $3 = fail adds the
# two trouble records.
expected_fort1() {
  local -a hl
  local i k=0 n
  read -r -a hl <<<"$2"
  n=${#hl[@]}
  printf ' mycomp=%-30s len= %11d\n' "$1" "${#1}"
  for ((i = 1; i <= n; i++)); do
    printf ' nhost= %11d  host( %11d )=%-30s\n' "$n" "$i" "${hl[i - 1]}"
    [ "${hl[i - 1]}" = "$1" ] && [ "$k" = 0 ] && k=$i
  done
  printf ' I am host( %11d )=%-30s\n' "$k" "$1"
  for ((i = 0; i < NPROC; i++)); do
    printf ' prmhost(1)= %-30s\n' "$(task_host "$1" "$2" "$i")"
  done
  if [ "${3:-}" = fail ]; then
    printf ' trouble spawning %-30s\n' torvo
    printf '  Check tids for error code\n'
  fi
}

# Checks the task output files in $1/out: one per worker, each on the host
# its task id names, the hosts together those of the spawn order.
check_worker_files() {
  local dir=$1 master=$2 hosts=$3 f tid idx host got expected line
  local -a hl
  read -r -a hl <<<"$hosts"
  got=""
  for f in "$dir"/out/torvo_std*; do
    [ -e "$f" ] || continue
    tid=${f##*/torvo_std}
    if ! [[ $tid =~ ^[0-9]+$ ]]; then
      mh_fail "task output file ${f##*/}: no task id in its name"
      continue
    fi
    idx=$(((tid >> 18) & 0xfff))
    host=${hl[idx - 1]:-?}
    line=$(grep '^ This computer =' "$f")
    [ "$line" = "$(printf ' This computer =%-30s' "$host")" ] ||
      mh_fail "${f##*/}: task of host $host says '$line'"
    got="$got $host"
  done
  got=$(tr ' ' '\n' <<<"$got" | sed '/^$/d' | sort | tr '\n' ' ')
  expected=$(for ((i = 0; i < NPROC; i++)); do task_host "$master" "$hosts" "$i"; done | sort | tr '\n' ' ')
  [ "$got" = "$expected" ] || mh_fail "workers ran on: $got; expected: $expected"
}

# Task id of member $2 in run directory $1: the worker whose task output
# file records "me=" $2.
task_of_member() {
  local f
  for f in "$1"/out/torvo_std*; do
    if grep -q "^ me= *$2\$" "$f"; then
      echo "${f##*/torvo_std}"
      return
    fi
  done
  echo 0
}

# The five stop-notice records on standard output.
expected_stop_notices() {
  local i
  for ((i = 0; i < NPROC; i++)); do printf ' Kill notice from proc = %11d  has been sent!\n' "$i"; done
}

# Prints what a failed run left for diagnosis.
show_run() {
  local f
  for f in "$1"/master.rc "$1"/stderr "$1"/fort.1 "$1"/fort.99 "$1"/left.procs "$1"/ps.out "$1"/taskwd/* "$1"/logs/*; do
    [ -s "$f" ] || continue
    echo "---- ${f#$WORK/}" >&2
    tail -n 30 "$f" >&2
  done
}

# bed_run LABEL MASTER HOSTS FAIL-HOST INNER-ARGUMENT...: prepares the run
# directory $WORK/LABEL (the input files, out/ and taskwd/), runs
# master_test.sh INNER-ARGUMENT... in it on a fresh bed of HOSTS with the
# master pvmd on MASTER (FAIL-HOST, unless empty, cannot start tasks) and
# checks that the bed ran and left nothing behind.
bed_run() {
  local label=$1 dir=$WORK/$1 rc
  local -a opts=(--master "$2" --hosts "$3" --ep "$BIN" --wd "$dir/taskwd" --timeout 60 --logs "$dir/logs")
  if [ -n "$4" ]; then opts+=(--fail-host "$4"); fi
  shift 4
  mkdir -p "$dir/out" "$dir/taskwd"
  cp "$MH_DIR/seq_d.in" "$MH_DIR/seq_t.in" "$dir/"
  cd "$dir" || exit 1
  mh_bed run "${opts[@]}" -- "$MH_DIR/master_test.sh" "$@"
  rc=$?
  cd "$WORK" || exit 1
  [ "$rc" = 0 ] || mh_fail "$label: the bed ended with status $rc"
  if [ -s "$dir/id" ]; then mh_check_bed_gone "$(cat "$dir/id")"; fi
}

# disturbed_run LABEL ACTION DELAY-MS WAIT-S: one master run on a fresh bed
# of alpha, beta and gamma (master on beta), disturbed by ACTION
# (inner_disturbed); checks that the bed ran and left nothing behind.
disturbed_run() {
  local dir=$WORK/$1
  bed_run "$1" beta "alpha beta gamma" "" --inner-disturbed "$BIN" "$dir" "$2" "$3" "$4"
  [ -s "$dir/left.procs" ] && mh_fail "$1: torvo processes left: $(cat "$dir/left.procs")"
}

# run LABEL MASTER HOSTS [FAIL-HOST]: one master run on a fresh bed.
run() {
  local dir=$WORK/$1 check_left=no
  [ -n "${4:-}" ] && check_left=yes
  bed_run "$1" "$2" "$3" "${4:-}" --inner "$BIN" "$dir" "$check_left"
  if [ ! -s "$dir/master.rc" ]; then
    mh_fail "$1: the master did not run to its end"
  elif [ -z "${4:-}" ] && [ "$(cat "$dir/master.rc")" != 0 ]; then
    mh_fail "$1: the master ended with status $(cat "$dir/master.rc")"
  elif [ -n "${4:-}" ] && [ "$(cat "$dir/master.rc")" = 0 ]; then
    mh_fail "$1: the master reported success after a failed spawn"
  fi
}

# A successful run: trace, worker files and stop notices.
check_good_run() {
  local dir=$WORK/$1
  expected_fort1 "$2" "$3" >"$dir/fort.1.expected"
  mh_same_file "$dir/fort.1" "$dir/fort.1.expected" "$1: fort.1"
  check_worker_files "$dir" "$2" "$3"
  expected_stop_notices >"$dir/stop.expected"
  grep '^ Kill notice from proc =' "$dir/stdout" >"$dir/stop.got"
  mh_same_file "$dir/stop.got" "$dir/stop.expected" "$1: stop notices on standard output"
  grep -q '^ plistout(' "$dir/stdout" || mh_fail "$1: no result list on standard output"
}

case $CASE in
  placement-beta)
    run placement beta "alpha beta gamma"
    check_good_run placement beta "alpha beta gamma"
    ;;
  placement-alpha)
    run placement alpha "alpha beta gamma"
    check_good_run placement alpha "alpha beta gamma"
    ;;
  same-output)
    run three beta "alpha beta gamma"
    check_good_run three beta "alpha beta gamma"
    run one alpha "alpha"
    check_good_run one alpha "alpha"
    mh_same_file "$WORK/three/stdout" "$WORK/one/stdout" "standard output on three hosts against one host"
    ;;
  failed-spawn)
    run failed beta "alpha beta gamma" gamma
    dir=$WORK/failed
    expected_fort1 beta "alpha beta gamma" fail >"$dir/fort.1.expected"
    mh_same_file "$dir/fort.1" "$dir/fort.1.expected" "failed: fort.1"
    if grep -Eq '^ (Kill notice from proc =|plistout\()' "$dir/stdout"; then
      mh_fail "failed: the master went on after the failed spawn"
    fi
    [ -s "$dir/left.procs" ] && mh_fail "failed: torvo processes left: $(cat "$dir/left.procs")"
    grep -q 'HOST' "$dir/ps.out" || mh_fail "failed: no task list from the console: $(cat "$dir/ps.out")"
    grep -q 'torvo' "$dir/ps.out" && mh_fail "failed: PVM still lists torvo tasks: $(cat "$dir/ps.out")"
    ;;
  host-delete)
    dir=$WORK/deleted
    disturbed_run deleted delete 1500 5
    grep -q "gamma *deleted" "$dir/delete.out" 2>/dev/null ||
      mh_fail "deleted: console delete gamma: $(cat "$dir/delete.out" 2>/dev/null)"
    [ "$(cat "$dir/master.rc" 2>/dev/null)" = 0 ] ||
      mh_fail "deleted: the master ended with status $(cat "$dir/master.rc" 2>/dev/null)"
    # fort.1: the spawn trace, then one record per member lost with gamma.
    expected_fort1 beta "alpha beta gamma" >"$dir/fort.1.expected"
    printf ' LOST member %11d  task %11d  job %11d\n' \
      1 "$(task_of_member "$dir" 1)" 2 4 "$(task_of_member "$dir" 4)" 5 >>"$dir/fort.1.expected"
    mh_same_file "$dir/fort.1" "$dir/fort.1.expected" "deleted: fort.1"
    run one alpha "alpha"
    check_good_run one alpha "alpha"
    mh_same_file "$dir/stdout" "$WORK/one/stdout" "standard output with gamma deleted against one host"
    ;;
  master-killed)
    dir=$WORK/killed
    disturbed_run killed kill 3000 10
    [ "$(cat "$dir/master.rc" 2>/dev/null)" = 137 ] ||
      mh_fail "killed: the master was not killed: status $(cat "$dir/master.rc" 2>/dev/null)"
    check_worker_files "$dir" beta "alpha beta gamma"
    for f in "$dir"/out/torvo_std*; do
      grep -q '^ ERROR x_rdat_p: parent task ended' "$f" ||
        mh_fail "killed: ${f##*/} does not say that its parent ended"
    done
    ;;
  *)
    echo "master_test.sh: unknown case $CASE" >&2
    exit 2
    ;;
esac

if [ "$MH_FAILED" != 0 ]; then
  for d in "$WORK"/*/; do show_run "${d%/}"; done
  exit 1
fi
echo "multihost $CASE: all checks passed"
