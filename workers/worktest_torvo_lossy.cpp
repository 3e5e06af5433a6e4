// A torvo for the tests of lost workers, installed as bin/lossy/torvo: the
// start-up, protocol, results and TORVO_DELAY_MS of torvo, but a job whose
// first value (zone 1's temperature) equals TORVO_DIE_T1 makes the task log
// "dying on T1=" and end at once, after the job's delay and without a
// result or pvm_exit, as a crashed worker would. With TORVO_DIE_MARK naming
// a file, only the task that creates that file first ends; every later
// attempt of the job is computed.
#include <fcntl.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <span>
#include <thread>

#include "communicate/communicate.h"
#include "records/channels.h"
#include "workers/torvo_model.h"

namespace {

// The number in the variable `name`, or `otherwise` when unset.
double number(const char* name, double otherwise) {
  const char* text = std::getenv(name);
  return text == nullptr ? otherwise : std::strtod(text, nullptr);
}

// True when the job starting with `first` is the one to die on, and this
// task is the first to claim it when TORVO_DIE_MARK is set.
bool dies_on(double first) {
  if (std::getenv("TORVO_DIE_T1") == nullptr || first != number("TORVO_DIE_T1", 0.0)) return false;
  const char* mark = std::getenv("TORVO_DIE_MARK");
  if (mark == nullptr) return true;
  const int fd = ::open(mark, O_WRONLY | O_CREAT | O_EXCL, 0644);
  if (fd < 0) return false;
  ::close(fd);
  return true;
}

}  // namespace

int main() {
  using namespace communicate;
  const NameField exec = NameField::from("torvo");
  EnvField variable = EnvField::from("TORVO_OUT");
  myinit(exec, NameField::from("parent"), variable);
  x_rtids_p(1, exec);
  const auto delay = std::chrono::milliseconds(static_cast<long>(number("TORVO_DELAY_MS", 0.0)));
  State& s = state();
  std::int32_t jobs = 0;
  for (;;) {
    std::int32_t istat = 0;
    x_rdat_p(2, istat);
    if (istat == 0) break;
    const std::span<const double> job(s.r8_frm_p.data(), static_cast<std::size_t>(s.rcv_p));
    s.snd_p = torvo::evaluate(job, s.r8_frm_c.values);
    if (delay.count() > 0) std::this_thread::sleep_for(delay);
    if (dies_on(s.r8_frm_p[1])) {
      records::print(records::kTrace, "dying on T1=", s.r8_frm_p[1]);
      std::_Exit(3);
    }
    x_sdat_p(2);
    ++jobs;
  }
  records::print(records::kTrace, "jobs done=", jobs);
  stop(0);
}
