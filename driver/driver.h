// The master's front end: population assembly and the parameter and result
// lists on standard output.
//
// assemble_population() reads seq_d.in (density table and density index
// records) and seq_t.in (temperature table and temperature index records)
// from the working directory, echoes both tables, one "ict=" record per cycle
// and every index record, and builds plistin: 20 values per individual, the
// temperature and the density of zones 1 to 10 in turn. The population ends
// where seq_d.in ends (its last complete index record).
//
// Input that the arrays cannot hold or that is not what the files must hold
// is refused: a diagnostic "master: <file> line <n>: <problem>" on standard
// error and exit status 2, with whatever was printed before left as it is.
// Refused are: a file that cannot be opened or read, a value that is not a
// number of the kind read, an end of file inside a table length or table, a
// table length above 10, an index value outside 1 to 10 in a complete index
// record, more than 100 individuals, and a seq_t.in that runs out of index
// records while seq_d.in still holds a complete one.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

#include "communicate/communicate.h"

namespace driver {

inline constexpr const char* kDensityFile = "seq_d.in";
inline constexpr const char* kTemperatureFile = "seq_t.in";
inline constexpr int kTableLimit = 10;       // entries of a table
inline constexpr int kMaxIndividuals = 100;  // individuals of a population
inline constexpr int kInputErrorExit = 2;    // exit status after refused input

using Table = communicate::Positions<double, kTableLimit, 1>;     // positions 1 .. 10
using IndexRecord = communicate::Positions<std::int32_t, 40, 1>;  // positions 1 .. 40
using ParameterList = communicate::ValueBuffer;                   // positions 1 .. 10000

// The driver's data. Every array starts zero-filled.
struct DriverState {
  static constexpr std::int32_t plsmzns = 10;  // zones per individual
  std::int32_t nin = 0;                        // values per individual in plistin (2 * plsmzns)
  Table densarray;                             // density table
  Table temparray;                             // temperature table
  IndexRecord a1;             // density indices of the individual being read (1 .. 10)
  IndexRecord b1;             // temperature indices of the individual being read (1 .. 10)
  ParameterList plistin;      // parameter list: individual p at nin*(p-1)+1 .. nin*p
  ParameterList plistout;     // result list: individual p at nout*(p-1)+1 .. nout*p
  std::int32_t ipopsize = 0;  // individuals assembled
  std::int32_t ict = 0;       // cycle counter
  std::int32_t njred = 0;     // table length last read
  std::int32_t nout = 0;      // values per individual in plistout
};

// The one instance of the driver's data.
DriverState& state();

// Reads both input files, echoes them and fills plistin and ipopsize.
void assemble_population(DriverState& d);

// Prints "ipopsize=" and one "plistin(" record per value of the population.
void print_plistin(const DriverState& d);

// Prints one "plistout(" record per value of the population's results;
// refuses a result list beyond the 10000 positions.
void print_plistout(const DriverState& d);

// Writes "master: <file>[ line <n>]: <problem>" to standard error and exits
// with status 2.
[[noreturn]] void refuse_input(std::string_view file, std::optional<int> line,
                               std::string_view problem);

}  // namespace driver
