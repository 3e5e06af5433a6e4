// A variant of torvo for tests, installed as bin/alt/torvo: the same start-up
// and protocol, but each result holds only the zone pressures (one value per
// zone, 10 for the master's jobs) instead of pressure and energy.
#include <cstddef>
#include <cstdint>
#include <span>

#include "workers/torvo_model.h"
#include "workers/torvo_run.h"

int main() {
  torvo::run([](std::span<const double> job, std::span<double> result) {
    // A job holds at most 10000 values, so its zones always fit the result.
    const std::size_t zones = job.size() / 2;
    for (std::size_t z = 0; z < zones; ++z) result[z] = torvo::pressure(job[2 * z], job[2 * z + 1]);
    return static_cast<std::int32_t>(zones);
  });
}
