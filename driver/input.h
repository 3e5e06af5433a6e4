// Reader of the master's input files (seq_d.in, seq_t.in).
//
// Every read starts at the beginning of the next line, takes as many values
// as it needs from that line and from the lines after it, and leaves the rest
// of the line where it took its last value unread. A read of no values still
// uses up one line. Values are separated by blanks, tabs, carriage returns,
// line ends and single commas; a comma before the first value of a read or a
// second comma with nothing but separators since the first is an empty value
// and an error. Integers are decimal with an optional sign and must fit in 32
// bits. Reals take an optional sign, digits with an optional point (".5" and
// "3." included) and an optional exponent introduced by E or D in either case
// ("1e3", "2.5D-1"); a real too large for a double is an error. Anything else
// (repeat counts, a slash, words) is an error, never a silent zero.
//
// A read stores the values it delivers from the first entry on and leaves the
// other entries untouched, also when it meets the end of the file or an error.
// The reader never exits: the caller decides what an end of file or an error
// means. Lines are numbered from 1.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <optional>
#include <span>
#include <string>

namespace driver {

// How a read ended.
enum class ReadStatus {
  complete,     // every value asked for was delivered
  end_of_file,  // the file ended first; `delivered` values were stored
  error,        // a value could not be read, or the file could not be read
};

// The outcome of one read.
struct ReadResult {
  ReadStatus status = ReadStatus::complete;
  int delivered = 0;    // values stored, from the first entry on
  int line = 0;         // line of the last value taken (or of the line used up by
                        // an empty read), of the error, or the line the end of
                        // the file was met on (one past the last line)
  std::string problem;  // what went wrong, when status is error
};

// One input file, read line by line.
class InputFile {
 public:
  InputFile() = default;
  ~InputFile();
  InputFile(const InputFile&) = delete;
  InputFile& operator=(const InputFile&) = delete;

  // Opens `path` for reading. Returns the reason when it cannot be opened.
  std::optional<std::string> open(const char* path);
  // Closes the file; later reads meet the end of the file.
  void close();

  // Reads values.size() integers; value_lines, when not empty, receives the
  // line of every value delivered.
  ReadResult read_integers(std::span<std::int32_t> values, std::span<int> value_lines = {});
  // Reads values.size() reals.
  ReadResult read_reals(std::span<double> values);

 private:
  enum class Kind { integer, real };
  // A value about to be stored: the integer or the real asked for.
  struct Value {
    std::int32_t integer = 0;
    double real = 0.0;
  };

  ReadResult read(Kind kind, std::size_t count, std::span<std::int32_t> integers,
                  std::span<double> reals, std::span<int> value_lines);
  // Moves to the next line; false at the end of the file or on a read error.
  bool next_line(ReadResult& result);
  // Converts one value; false (and the problem) when it is not one of `kind`.
  bool convert(std::string_view text, Kind kind, Value& value, std::string& problem);

  std::FILE* file_ = nullptr;
  char* line_ = nullptr;      // current line, from getline(3)
  std::size_t capacity_ = 0;  // size of the getline buffer
  std::size_t length_ = 0;    // characters in the current line
  int line_number_ = 0;       // number of the current line, 0 before the first
  std::string scratch_;       // a real's text handed to strtod
};

}  // namespace driver
