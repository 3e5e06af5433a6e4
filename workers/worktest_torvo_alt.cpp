// A variant of torvo for tests, installed as bin/alt/torvo: the same start-up
// and protocol, but each result holds only the zone pressures (one value per
// zone, 10 for the master's jobs) instead of pressure and energy.
#include <array>
#include <cstdint>
#include <span>

#include "communicate/communicate.h"
#include "workers/torvo_model.h"
#include "workers/torvo_run.h"

int main() {
  torvo::run([](std::span<const double> job, std::span<double> result) {
    std::array<double, communicate::kBufferValues> both{};
    const std::int32_t pressures = torvo::evaluate(job, both) / 2;
    for (std::size_t z = 0; z < static_cast<std::size_t>(pressures); ++z) result[z] = both[2 * z];
    return pressures;
  });
}
