// Benchmark support: timed child processes (the private virtual machine of
// the benchmarks is test_support::PrivateVm, tests/support/private_vm.h).
//
// run_timed() runs a program to its end
// and measures its wall time; wait_for_no_task() waits until no process runs
// a program of a given directory, so one timed run never overlaps the
// workers of the run before it.
#pragma once

#include <chrono>
#include <string>
#include <utility>
#include <vector>

#include "tests/support/private_vm.h"

namespace benchvm {

using Env = std::vector<std::pair<std::string, std::string>>;

struct TimedRun {
  int exit_status = -1;  // exit code, or 128+signal
  bool timed_out = false;
  double seconds = 0.0;  // wall time from fork to the end of the process
  std::string err;       // what it wrote to standard error
};

// Runs `argv` in `cwd` with extra environment `env`, standard output into the
// file `out_path` (rewritten), standard error collected; kills it after `limit`.
TimedRun run_timed(const std::vector<std::string>& argv, const std::string& cwd,
                   const std::string& out_path, const Env& env, std::chrono::seconds limit);

// Waits (at most `limit`) until no process runs an executable of `dir`.
// Returns false when some still run at the end.
bool wait_for_no_task(const std::string& dir, std::chrono::milliseconds limit);

}  // namespace benchvm
