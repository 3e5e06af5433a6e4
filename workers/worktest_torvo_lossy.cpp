// A torvo for the tests of lost workers, installed as bin/lossy/torvo: the
// start-up, protocol, results and TORVO_DELAY_MS of torvo, but a job whose
// first value (zone 1's temperature) equals TORVO_DIE_T1 makes the task log
// "dying on T1=" and end at once, after the job's delay and without a
// result or pvm_exit, as a crashed worker would. With TORVO_DIE_MARK naming
// a file, only the task that creates that file first ends; every later
// attempt of the job is computed.
#include <cstdlib>
#include <span>

#include "records/channels.h"
#include "workers/test_crash.h"
#include "workers/torvo_model.h"
#include "workers/torvo_run.h"

namespace {

// True when the job starting with `first` is the one to die on, and this
// task is the first to claim it when TORVO_DIE_MARK is set.
bool dies_on(double first) {
  const char* die_t1 = std::getenv("TORVO_DIE_T1");
  if (die_t1 == nullptr || first != std::strtod(die_t1, nullptr)) return false;
  return test_crash::claim_once("TORVO_DIE_MARK");
}

}  // namespace

int main() {
  torvo::run(torvo::evaluate, [](std::span<const double> job) {
    if (dies_on(job[0])) {
      records::print(records::kTrace, "dying on T1=", job[0]);
      test_crash::crash_now();
    }
  });
}
