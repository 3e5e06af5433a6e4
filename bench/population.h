// The benchmark population: 100 individuals of 10 zones, 20 values each.
//
// The input files seq_d.in and seq_t.in hold a full table of 10 entries and
// one index record per individual; plistin_value() gives the value that the
// master assembles from them at a 1-based position of its parameter list
// (temperature and density of every zone in turn). The same numbers feed the
// real master (through the files) and the benchmark programs (directly), so
// both print and send the same values.
#pragma once

#include <cstdio>
#include <string>

namespace bench {

inline constexpr int kPopulation = 100;  // individuals, jobs of one run
inline constexpr int kZones = 10;        // zones per individual
inline constexpr int kValuesPerJob = 2 * kZones;
inline constexpr int kWorkers = 5;     // worker tasks of the farm
inline constexpr int kTableSize = 10;  // entries of each table

// Table entry i (1..10).
inline double density(int i) {
  return 0.125 * i * i + 0.01;
}
inline double temperature(int i) {
  return 1500.0 + 250.0 * i;
}

// Table positions picked for zone z (1..10) of individual p (1..100).
inline int density_index(int p, int z) {
  return (p * 3 + z * 7) % kTableSize + 1;
}
inline int temperature_index(int p, int z) {
  return (p * 5 + z) % kTableSize + 1;
}

// Value at position k (1-based) of the parameter list.
inline double plistin_value(int k) {
  const int p = (k - 1) / kValuesPerJob + 1;
  const int slot = (k - 1) % kValuesPerJob;  // 0 .. 19
  const int z = slot / 2 + 1;
  return slot % 2 == 0 ? temperature(temperature_index(p, z)) : density(density_index(p, z));
}

// Text of one input file: the table length, the table, one index record per individual.
inline std::string input_file(bool densities) {
  std::string text = std::to_string(kTableSize) + "\n";
  char number[32];
  for (int i = 1; i <= kTableSize; ++i) {
    std::snprintf(number, sizeof number, "%s%.4f", i > 1 ? " " : "",
                  densities ? density(i) : temperature(i));
    text += number;
  }
  text += "\n";
  for (int p = 1; p <= kPopulation; ++p) {
    for (int z = 1; z <= kZones; ++z) {
      text += (z > 1 ? " " : "");
      text += std::to_string(densities ? density_index(p, z) : temperature_index(p, z));
    }
    text += "\n";
  }
  return text;
}

}  // namespace bench
