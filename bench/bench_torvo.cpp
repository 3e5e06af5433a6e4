// Benchmark worker, installed as "torvo" in its own directory
// (bin/benchworkers) so that a virtual machine whose ep= names that directory
// runs it in place of the real worker. It keeps the worker's message
// contract (workers/torvo_contract.h) through the communicate library:
// x_rtids_p with kTidsTag, then x_rdat_p / x_sdat_p with kJobTag until the
// stop notice. It does not compute: every result is the job's own values (so
// a master can check where each result landed), with the job's count.
//
// Optional delay, for load-balance runs: with BENCH_TORVO_DELAY_US set to u,
// a job whose first value is v sleeps v*u*(1 + s*me) microseconds before it
// answers, where s is BENCH_TORVO_MEMBER_SKEW (default 0) and me the member
// index. Without BENCH_TORVO_DELAY_US a job takes no time at all.
#include <sys/prctl.h>
#include <time.h>

#include <cstdint>
#include <cstdlib>

#include "communicate/communicate.h"
#include "workers/torvo_contract.h"

namespace {

// Value of a numeric environment variable, or `fallback`.
double env_number(const char* name, double fallback) {
  const char* text = std::getenv(name);
  return text != nullptr ? std::strtod(text, nullptr) : fallback;
}

// Sleeps `us` microseconds, to the end even when interrupted.
void sleep_us(double us) {
  if (us <= 0.0) return;
  const auto total = static_cast<long long>(us * 1000.0);
  timespec t{static_cast<time_t>(total / 1000000000LL), static_cast<long>(total % 1000000000LL)};
  while (nanosleep(&t, &t) != 0) {
  }
}

}  // namespace

int main() {
  using namespace communicate;
  State& s = state();
  const double unit_us = env_number("BENCH_TORVO_DELAY_US", 0.0);
  const double skew = env_number("BENCH_TORVO_MEMBER_SKEW", 0.0);
  // The job's delay is its length: no timer slack (50 us by default) on top.
  if (unit_us > 0.0) prctl(PR_SET_TIMERSLACK, 1UL, 0UL, 0UL, 0UL);

  x_rtids_p(torvo::kTidsTag, torvo::kExec);
  for (;;) {
    std::int32_t istat = 0;
    x_rdat_p(torvo::kJobTag, istat);
    if (istat == 0) break;
    if (unit_us > 0.0) sleep_us(s.r8_frm_p[1] * unit_us * (1.0 + skew * s.me));
    for (int k = 1; k <= s.rcv_p; ++k) s.r8_frm_c[k] = s.r8_frm_p[k];
    s.snd_p = s.rcv_p;
    x_sdat_p(torvo::kJobTag);
  }
  stop(0);
}
