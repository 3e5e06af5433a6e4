// A variant of torvo for tests, installed as bin/alt/torvo: the same start-up
// and protocol, but each result holds only the zone pressures (one value per
// zone, 10 for the master's jobs) instead of pressure and energy.
#include <cstdint>
#include <span>

#include "communicate/communicate.h"
#include "workers/torvo_model.h"

int main() {
  using namespace communicate;
  const NameField exec = NameField::from("torvo");
  EnvField variable = EnvField::from("TORVO_OUT");
  myinit(exec, NameField::from("parent"), variable);
  x_rtids_p(1, exec);
  State& s = state();
  for (;;) {
    std::int32_t istat = 0;
    x_rdat_p(2, istat);
    if (istat == 0) break;
    std::array<double, kBufferValues> both{};
    const std::span<const double> job(s.r8_frm_p.data(), static_cast<std::size_t>(s.rcv_p));
    const std::int32_t values = torvo::evaluate(job, both);
    s.snd_p = values / 2;
    for (std::int32_t z = 1; z <= s.snd_p; ++z)
      s.r8_frm_c[z] = both[static_cast<std::size_t>(2 * (z - 1))];
    x_sdat_p(2);
  }
  stop(0);
}
