// torvo: the worker program of the master's population evaluation.
//
// Model: each job is one individual, the temperature (K) and density (g/cm^3)
// of each of its zones in turn (T1, rho1, ..., T10, rho10 in the master's
// run). torvo treats every zone as an ideal monatomic gas (helium) and returns
// the zone's pressure p = rho * R * T / mu and specific internal energy
// e = 3/2 * R * T / mu, in turn: p1, e1, ..., p10, e10, so 20 values for the
// master's 20. The computation lives in torvo_model.h.
//
// Life of a task: myinit (group name "torvo", parent registered as "parent",
// output directory from the environment variable TORVO_OUT), the group's task
// ids with tag 1, then jobs with tag 2 until the stop notice; one result per
// job. An optional delay per job, in milliseconds, comes from the variable
// TORVO_DELAY_MS (for load tests). At the end the task writes the number of
// jobs it did to its task output file.
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <span>
#include <thread>

#include "communicate/communicate.h"
#include "records/channels.h"
#include "workers/torvo_model.h"

namespace {

constexpr std::int32_t kTidsTag = 1;
constexpr std::int32_t kJobTag = 2;
constexpr long kMaxDelayMs = 60000;

// The delay per job from TORVO_DELAY_MS, 0 when unset or not a number.
std::chrono::milliseconds job_delay() {
  const char* text = std::getenv("TORVO_DELAY_MS");
  if (text == nullptr) return std::chrono::milliseconds(0);
  char* end = nullptr;
  const long ms = std::strtol(text, &end, 10);
  if (end == text || *end != '\0' || ms < 0) return std::chrono::milliseconds(0);
  return std::chrono::milliseconds(ms < kMaxDelayMs ? ms : kMaxDelayMs);
}

}  // namespace

int main() {
  using namespace communicate;
  const NameField exec = NameField::from("torvo");
  EnvField output_dir_variable = EnvField::from("TORVO_OUT");
  myinit(exec, NameField::from("parent"), output_dir_variable);
  x_rtids_p(kTidsTag, exec);

  const std::chrono::milliseconds delay = job_delay();
  State& s = state();
  std::int32_t jobs = 0;
  for (;;) {
    std::int32_t istat = 0;
    x_rdat_p(kJobTag, istat);
    if (istat == 0) break;
    const std::span<const double> job(s.r8_frm_p.data(), static_cast<std::size_t>(s.rcv_p));
    s.snd_p = torvo::evaluate(job, s.r8_frm_c.values);
    if (delay.count() > 0) std::this_thread::sleep_for(delay);
    x_sdat_p(kJobTag);
    ++jobs;
  }
  records::print(records::kTrace, "jobs done=", jobs);
  stop(0);
}
