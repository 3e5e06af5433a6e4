#!/usr/bin/env bash
# Builds the benchmarks into build-bench/ (Release) and runs them all once:
#   farm_bench     whole run of the master vs the bare-PVM baseline farm,
#                  phase split, default vs direct route, load balance
#   pack_bench     packing/unpacking a job message, library vs raw libpvm3
#   records_bench  record formatting and printing 10000 "plistout(" records
# Extra arguments go to farm_bench (e.g. --pairs 50, --only whole,phases).
# Every benchmark starts and halts its own private pvmd. Takes about a
# minute or two on a quiet 2-core machine; run it when nothing else is busy.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="${BENCH_BUILD_DIR:-$root/build-bench}"
# With --running-vm farm_bench starts no daemon, and the programs it runs
# join the running one, which as root they do only with PVM_ALLOW_ROOT=1.
[[ $(id -u) -eq 0 ]] && export PVM_ALLOW_ROOT=1

cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$build" -j2 --target farm_bench pack_bench records_bench >/dev/null

echo "== machine: $(nproc) cores, load average $(cut -d' ' -f1-3 /proc/loadavg)"
status=0
"$build/bin/farm_bench" --bin "$build/bin" "$@" || status=$?
echo
echo "== pack_bench"
"$build/bin/pack_bench" --benchmark_min_time=0.2 || status=$?
echo
echo "== records_bench"
"$build/bin/records_bench" --benchmark_min_time=0.2 || status=$?
exit "$status"
