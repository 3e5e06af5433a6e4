// The zone model of the worker program torvo: an ideal monatomic gas.
//
// A job holds, for each zone in turn, its temperature T (kelvin) and its
// density rho (g/cm^3, as the input tables give it): T1, rho1, T2, rho2, ... .
// For each zone the model gives the pressure p = 1000 rho * R * T / mu
// (pascal; 1000 turns g/cm^3 into kg/m^3) and the specific internal
// energy e = 3/2 * R * T / mu (J/kg), with R the molar gas constant and mu
// the molar mass of helium; the result holds p1, e1, p2, e2, ... . A job of
// 2n values gives 2n results (an odd last value is ignored). The model is
// deterministic: the same job always gives the same values.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

namespace torvo {

inline constexpr double kGasConstant = 8.314462618;  // J/(mol K)
inline constexpr double kMolarMass = 4.002602e-3;    // kg/mol, helium
inline constexpr double kKgPerM3 = 1000.0;           // kg/m^3 in one g/cm^3

// Pressure of a zone, pascal, from its temperature (K) and density (g/cm^3).
inline double pressure(double temperature, double density) {
  return density * kKgPerM3 * kGasConstant * temperature / kMolarMass;
}

// Specific internal energy of a zone, J/kg.
inline double internal_energy(double temperature) {
  return 1.5 * kGasConstant * temperature / kMolarMass;
}

// Evaluates the zones of `job` into `result`; returns the number of values
// written (two per zone, as many zones as both spans hold).
inline std::int32_t evaluate(std::span<const double> job, std::span<double> result) {
  std::size_t zones = job.size() / 2;
  if (result.size() / 2 < zones) zones = result.size() / 2;
  for (std::size_t z = 0; z < zones; ++z) {
    const double temperature = job[2 * z];
    const double density = job[2 * z + 1];
    result[2 * z] = pressure(temperature, density);
    result[2 * z + 1] = internal_energy(temperature);
  }
  return static_cast<std::int32_t>(2 * zones);
}

}  // namespace torvo
