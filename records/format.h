// Record layouts, formatting only: nothing here does I/O.
//
// A list record is a sequence of items (texts, 32-bit integers, doubles)
// laid out in lines of at most 80 columns: every numeric item is a blank and
// its field (11 columns for an integer, 23 for a real); a text gets a leading
// blank when it is the first item or follows a number; items that would pass
// column 80 move to a new line, and a text longer than the rest of the line
// continues on the next one after a blank. An index line is the fixed
// "(10(1x,i3))" layout: ten times a blank and a 3-column integer. Every
// formatted line ends with a line feed. The append functions add to a
// caller's buffer; a buffer that is reused allocates nothing per record once
// it has grown to the size of the longest record.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "records/field.h"

namespace records {

inline constexpr int kLineLimit = 80;          // columns of a list record line
inline constexpr int kIntegerWidth = 11;       // columns of an integer field
inline constexpr int kRealWidth = 23;          // columns of a real field
inline constexpr int kIndexValues = 10;        // integers on an index line
inline constexpr int kIndexWidth = 3;          // columns of one index field

// One item of a list record. It refers to text it does not own.
class Item {
 public:
  enum class Kind { text, integer, real };

  constexpr Item(std::string_view text) : kind_(Kind::text), text_(text) {}
  constexpr Item(const char* text) : kind_(Kind::text), text_(text) {}
  template <std::size_t N>
  constexpr Item(const Field<N>& field) : kind_(Kind::text), text_(field.view()) {}
  constexpr Item(std::int32_t value) : kind_(Kind::integer), integer_(value) {}
  constexpr Item(double value) : kind_(Kind::real), real_(value) {}

  constexpr Kind kind() const { return kind_; }
  constexpr std::string_view text() const { return text_; }
  constexpr std::int32_t integer() const { return integer_; }
  constexpr double real() const { return real_; }

 private:
  Kind kind_;
  std::string_view text_{};
  std::int32_t integer_ = 0;
  double real_ = 0.0;
};

// Appends the 23-column field of a real: fixed form for 0.1 <= |x| < 1e15,
// D-exponent form otherwise, 15 significant digits rounded half up.
void append_real_field(std::string& out, double x);

// Appends the 11-column right-aligned field of an integer.
void append_integer_field(std::string& out, std::int32_t value);

// Appends a whole list record, one or more lines, each ending in '\n'.
void append_list_record(std::string& out, std::span<const Item> items);

// Appends an index line: ten blank + 3-column fields ("***" when a value
// does not fit), ending in '\n'.
void append_index_line(std::string& out, std::span<const std::int32_t, kIndexValues> values);

}  // namespace records
