#include "driver/driver.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstdlib>
#include <span>
#include <string>

#include "driver/input.h"
#include "records/channels.h"

namespace driver {
namespace {

using Lines = std::array<int, DriverState::plsmzns>;  // line of every index value

// Writes "master: <text>" to standard error and exits with status 2.
[[noreturn]] void fail(const std::string& text) {
  records::close_all();
  const std::string message = "master: " + text + "\n";
  std::fwrite(message.data(), 1, message.size(), stderr);
  std::fflush(stderr);
  std::exit(kInputErrorExit);
}

// Opens `file` or refuses the run.
void open_input(InputFile& input, const char* file) {
  if (const auto problem = input.open(file)) refuse_input(file, std::nullopt, *problem);
}

// Refuses a read that ended in an error.
void refuse_error(const char* file, const ReadResult& r) {
  if (r.status == ReadStatus::error) refuse_input(file, r.line, r.problem);
}

// Reads a table length into njred and that many reals into table(1 ..).
void read_table(InputFile& input, const char* file, std::int32_t& njred, Table& table) {
  ReadResult r = input.read_integers(std::span<std::int32_t>(&njred, 1));
  refuse_error(file, r);
  if (r.status == ReadStatus::end_of_file) {
    refuse_input(file, r.line, "end of file while reading the table length");
  }
  if (njred > kTableLimit) {
    refuse_input(
        file, r.line,
        "table length " + std::to_string(njred) + " is above " + std::to_string(kTableLimit));
  }
  const int count = std::max(njred, 0);
  r = input.read_reals(table.from(1, count));
  refuse_error(file, r);
  if (r.status == ReadStatus::end_of_file && count == 0) {
    refuse_input(file, r.line, "end of file instead of the line of the empty table");
  }
  if (r.status == ReadStatus::end_of_file) {
    refuse_input(file, r.line,
                 "end of file while reading the table (" + std::to_string(r.delivered) + " of " +
                     std::to_string(count) + " values read)");
  }
}

// Prints a table record: its name and all 10 entries.
void print_table(const char* name, const Table& table) {
  records::print(records::kStdout, name, table[1], table[2], table[3], table[4], table[5], table[6],
                 table[7], table[8], table[9], table[10]);
}

// Prints entries 1 .. 10 of an index record as one index line.
void print_index_line(const IndexRecord& record) {
  records::write_index_line(records::kStdout, std::span<const std::int32_t, records::kIndexValues>(
                                                  &record[1], records::kIndexValues));
}

// Refuses an index record with a value that names no table position.
void check_indices(const char* file, const IndexRecord& record, const Lines& lines) {
  for (int z = 1; z <= DriverState::plsmzns; ++z) {
    if (record[z] < 1 || record[z] > kTableLimit) {
      refuse_input(file, lines[static_cast<std::size_t>(z - 1)],
                   "index value " + std::to_string(record[z]) + " is outside 1 to " +
                       std::to_string(kTableLimit));
    }
  }
}

}  // namespace

DriverState& state() {
  static DriverState d;
  return d;
}

void refuse_input(std::string_view file, std::optional<int> line, std::string_view problem) {
  std::string text(file);
  if (line) text += " line " + std::to_string(*line);
  text += ": ";
  text += problem;
  fail(text);
}

void assemble_population(DriverState& d) {
  d.nin = 2 * DriverState::plsmzns;
  d.ipopsize = 0;
  d.ict = 0;

  InputFile density;
  InputFile temperature;
  open_input(density, kDensityFile);
  open_input(temperature, kTemperatureFile);

  read_table(density, kDensityFile, d.njred, d.densarray);
  print_table("densarray=", d.densarray);
  read_table(temperature, kTemperatureFile, d.njred, d.temparray);
  print_table("temparray=", d.temparray);

  Lines a1_lines{};
  Lines b1_lines{};
  for (;;) {
    ++d.ict;
    records::print(records::kStdout, "ict=", d.ict);

    // Temperatures of the individual; a record cut short by the end of the
    // file fills nothing.
    const ReadResult t = temperature.read_integers(d.b1.from(1, DriverState::plsmzns), b1_lines);
    refuse_error(kTemperatureFile, t);
    const int block = d.nin * d.ipopsize;  // plistin position before the individual's block
    if (t.status == ReadStatus::complete) {
      check_indices(kTemperatureFile, d.b1, b1_lines);
      for (int z = 1; z <= DriverState::plsmzns; ++z) {
        d.plistin[block + 2 * z - 1] = d.temparray[d.b1[z]];
      }
    }
    print_index_line(d.b1);

    // Densities; the end of seq_d.in ends the population.
    const ReadResult r = density.read_integers(d.a1.from(1, DriverState::plsmzns), a1_lines);
    refuse_error(kDensityFile, r);
    if (r.status == ReadStatus::end_of_file) break;
    if (t.status == ReadStatus::end_of_file) {
      refuse_input(kTemperatureFile, t.line,
                   "end of file in index record " + std::to_string(d.ipopsize + 1) + ", but " +
                       kDensityFile + " line " + std::to_string(r.line) + " completes one");
    }
    if (d.ipopsize == kMaxIndividuals) {
      refuse_input(kDensityFile, r.line,
                   "more than " + std::to_string(kMaxIndividuals) + " individuals");
    }
    check_indices(kDensityFile, d.a1, a1_lines);
    for (int z = 1; z <= DriverState::plsmzns; ++z) {
      d.plistin[block + 2 * z] = d.densarray[d.a1[z]];
    }
    ++d.ipopsize;
    print_index_line(d.a1);
  }
  print_index_line(d.a1);

  density.close();
  temperature.close();
}

void print_plistin(const DriverState& d) {
  records::print(records::kStdout, "ipopsize=", d.ipopsize);
  const int count = d.nin * d.ipopsize;
  for (int k = 1; k <= count; ++k) {
    records::print(records::kStdout, "plistin(", k, ")=", d.plistin[k]);
  }
}

void print_plistout(const DriverState& d) {
  const long long count = static_cast<long long>(d.nout) * d.ipopsize;
  if (count > ParameterList::last()) {
    fail("the result list of " + std::to_string(count) + " values exceeds " +
         std::to_string(ParameterList::last()) + " positions");
  }
  for (int k = 1; k <= count; ++k) {
    records::print(records::kStdout, "plistout(", k, ")=", d.plistout[k]);
  }
}

}  // namespace driver
