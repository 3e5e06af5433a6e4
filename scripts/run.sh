#!/usr/bin/env bash
# Runs the master end to end on the bundled example (or on the directory
# given as the first argument, which must hold seq_d.in and seq_t.in).
#
# Installs PVM and the build tools when they are missing and builds the
# programs. When no virtual machine is running for this user (PVM_TMP, or
# /tmp by default), it starts a private single-host one whose ep= finds
# build/bin/torvo, and halts it at the end. On a running virtual machine the
# master runs there: torvo must then be on every host's ep= path.
# The workers write their task output files into $TORVO_OUT
# (default: <run directory>/torvo-out).
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
input="${1:-$root/examples}"
# Installing and building report on standard error: standard output is the master's.
"$root/scripts/deps.sh" >&2
"$root/scripts/build.sh" >&2
bin="${BUILD_DIR:-$root/build}/bin"

run="$root/examples/run"
mkdir -p "$run"
cp "$input/seq_d.in" "$input/seq_t.in" "$run/"
rm -f "$run"/fort.*
export TORVO_OUT="${TORVO_OUT:-$run/torvo-out}"
[[ $(id -u) -eq 0 ]] && export PVM_ALLOW_ROOT=1

started=""
cleanup() {
  if [[ -n "$started" ]]; then
    kill -TERM "$started" 2>/dev/null || true
    for _ in $(seq 50); do kill -0 "$started" 2>/dev/null || break; sleep 0.1; done
    kill -KILL "$started" 2>/dev/null || true
    rm -rf "$PVM_TMP"
    echo "run.sh: halted the private virtual machine" >&2
  fi
}
trap cleanup EXIT

if "$bin/pvm_probe" >/dev/null 2>&1; then
  echo "run.sh: using the running virtual machine (PVM_TMP=${PVM_TMP:-/tmp})" >&2
  export PVM_EXPORT="${PVM_EXPORT:+$PVM_EXPORT:}TORVO_OUT"
else
  export PVM_TMP="$(mktemp -d /tmp/pvmrun.XXXXXX)"
  printf '* ep=%s wd=%s\n' "$bin" "$run" > "$PVM_TMP/hostfile"
  pvmd "$PVM_TMP/hostfile" > "$PVM_TMP/pvmd.out" 2>&1 &
  started=$!
  for _ in $(seq 150); do
    [[ -s "$PVM_TMP/pvmd.$(id -u)" ]] && break
    kill -0 "$started" 2>/dev/null || break
    sleep 0.1
  done
  if ! [[ -s "$PVM_TMP/pvmd.$(id -u)" ]]; then
    echo "run.sh: pvmd did not start:" >&2
    cat "$PVM_TMP/pvmd.out" >&2
    exit 1
  fi
  echo "run.sh: no virtual machine was running; started a private one (PVM_TMP=$PVM_TMP)" >&2
fi

status=0
(cd "$run" && "$bin/master") || status=$?
echo "run.sh: master exit status $status; run directory $run" >&2
echo "run.sh: master trace records: $run/fort.1" >&2
echo "run.sh: worker task output files in $TORVO_OUT:" >&2
ls -1 "$TORVO_OUT" >&2 2>/dev/null || echo "  (none)" >&2
exit "$status"
