// The life of a torvo task, shared by the worker program and its test
// variants: start-up with the task output file in $TORVO_OUT (group kExec,
// parent registered as "parent"), the group's task ids with kTidsTag, then
// jobs with kJobTag until the stop notice, one result per job (the contract
// with the master is in torvo_contract.h); at the end a "jobs done=" record
// in the task output file. TORVO_DELAY_MS (whole milliseconds, at most 60000)
// delays every result, for load tests.
#pragma once

#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <span>
#include <thread>

#include "communicate/communicate.h"
#include "records/channels.h"
#include "workers/torvo_contract.h"

namespace torvo {

inline constexpr long kMaxDelayMs = 60000;

// The delay per job from TORVO_DELAY_MS, 0 when unset or not a number.
inline std::chrono::milliseconds job_delay() {
  const char* text = std::getenv("TORVO_DELAY_MS");
  if (text == nullptr) return std::chrono::milliseconds(0);
  char* end = nullptr;
  const long ms = std::strtol(text, &end, 10);
  if (end == text || *end != '\0' || ms < 0) return std::chrono::milliseconds(0);
  return std::chrono::milliseconds(ms < kMaxDelayMs ? ms : kMaxDelayMs);
}

// Runs the task to its end. `compute(job, result)` fills the result from
// the job's values and returns its count; `before_send(job)`, when given,
// runs after the delay, just before the result goes to the parent.
template <class Compute, class BeforeSend>
[[noreturn]] void run(Compute compute, BeforeSend before_send) {
  using namespace communicate;
  EnvField output_dir_variable = EnvField::from("TORVO_OUT");
  myinit(kExec, NameField::from("parent"), output_dir_variable);
  x_rtids_p(kTidsTag, kExec);

  const std::chrono::milliseconds delay = job_delay();
  State& s = state();
  std::int32_t jobs = 0;
  for (;;) {
    std::int32_t istat = 0;
    x_rdat_p(kJobTag, istat);
    if (istat == 0) break;
    const std::span<const double> job(s.r8_frm_p.data(), static_cast<std::size_t>(s.rcv_p));
    s.snd_p = compute(job, std::span<double>(s.r8_frm_c.values));
    if (delay.count() > 0) std::this_thread::sleep_for(delay);
    before_send(job);
    x_sdat_p(kJobTag);
    ++jobs;
  }
  records::print(records::kTrace, "jobs done=", jobs);
  stop(0);
}

template <class Compute>
[[noreturn]] void run(Compute compute) {
  run(compute, [](std::span<const double>) {});
}

}  // namespace torvo
