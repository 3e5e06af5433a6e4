#include "driver/input.h"

#include <sys/types.h>

#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <string_view>
#include <system_error>

namespace driver {
namespace {

constexpr std::size_t kShownCharacters = 40;  // longest value text quoted in a problem

bool is_blank(char c) {
  return c == ' ' || c == '\t' || c == '\r';
}
bool is_separator(char c) {
  return is_blank(c) || c == ',';
}
bool is_digit(char c) {
  return c >= '0' && c <= '9';
}
bool is_exponent_letter(char c) {
  return c == 'e' || c == 'E' || c == 'd' || c == 'D';
}

// Number of digits at the start of `text`.
std::size_t digits_at(std::string_view text) {
  std::size_t n = 0;
  while (n < text.size() && is_digit(text[n])) ++n;
  return n;
}

// Drops one leading sign.
std::string_view unsigned_part(std::string_view text) {
  if (!text.empty() && (text.front() == '+' || text.front() == '-')) text.remove_prefix(1);
  return text;
}

// True for an optional sign followed by decimal digits only.
bool is_integer_text(std::string_view text) {
  const std::string_view digits = unsigned_part(text);
  return !digits.empty() && digits_at(digits) == digits.size();
}

// True for an optional sign, digits with an optional point (at least one
// digit in all) and an optional exponent: E or D, an optional sign, digits.
bool is_real_text(std::string_view text) {
  std::string_view rest = unsigned_part(text);
  const std::size_t whole = digits_at(rest);
  rest.remove_prefix(whole);
  std::size_t fraction = 0;
  if (!rest.empty() && rest.front() == '.') {
    rest.remove_prefix(1);
    fraction = digits_at(rest);
    rest.remove_prefix(fraction);
  }
  if (whole + fraction == 0) return false;
  if (rest.empty()) return true;
  if (!is_exponent_letter(rest.front())) return false;
  rest = unsigned_part(rest.substr(1));
  return !rest.empty() && digits_at(rest) == rest.size();
}

// The value text in quotes, cut when it is long.
std::string quoted(std::string_view text) {
  std::string q = "\"";
  if (text.size() > kShownCharacters) {
    q.append(text.substr(0, kShownCharacters));
    q.append("...");
  } else {
    q.append(text);
  }
  q.append("\"");
  return q;
}

}  // namespace

InputFile::~InputFile() {
  close();
  std::free(line_);
}

std::optional<std::string> InputFile::open(const char* path) {
  close();
  line_number_ = 0;
  length_ = 0;
  file_ = std::fopen(path, "r");
  if (file_ == nullptr) return std::string("cannot be opened: ") + std::strerror(errno);
  return std::nullopt;
}

void InputFile::close() {
  if (file_ != nullptr) std::fclose(file_);
  file_ = nullptr;
  length_ = 0;
}

ReadResult InputFile::read_integers(std::span<std::int32_t> values, std::span<int> value_lines) {
  return read(Kind::integer, values.size(), values, {}, value_lines);
}

ReadResult InputFile::read_reals(std::span<double> values) {
  return read(Kind::real, values.size(), {}, values, {});
}

bool InputFile::next_line(ReadResult& result) {
  length_ = 0;
  if (file_ == nullptr) {
    result.status = ReadStatus::end_of_file;
    result.line = line_number_ + 1;
    return false;
  }
  errno = 0;
  const ssize_t n = ::getline(&line_, &capacity_, file_);
  if (n < 0) {
    result.line = line_number_ + 1;
    if (std::ferror(file_)) {
      result.status = ReadStatus::error;
      result.problem = std::string("cannot be read: ") + std::strerror(errno);
    } else {
      result.status = ReadStatus::end_of_file;
    }
    return false;
  }
  ++line_number_;
  length_ = static_cast<std::size_t>(n);
  if (length_ > 0 && line_[length_ - 1] == '\n') --length_;
  return true;
}

bool InputFile::convert(std::string_view text, Kind kind, Value& value, std::string& problem) {
  if (kind == Kind::integer) {
    if (!is_integer_text(text)) {
      problem = quoted(text) + (is_real_text(text) ? " is not an integer" : " is not a number");
      return false;
    }
    // from_chars takes a minus sign but no plus sign.
    const std::string_view digits = text.front() == '+' ? text.substr(1) : text;
    const auto [end, ec] =
        std::from_chars(digits.data(), digits.data() + digits.size(), value.integer);
    if (ec != std::errc{} || end != digits.data() + digits.size()) {
      problem = quoted(text) + " is out of range";
      return false;
    }
    return true;
  }
  if (!is_real_text(text)) {
    problem = quoted(text) + " is not a number";
    return false;
  }
  scratch_.assign(text);
  for (char& c : scratch_) {
    if (c == 'd' || c == 'D') c = 'e';
  }
  value.real = std::strtod(scratch_.c_str(), nullptr);
  if (std::isinf(value.real)) {
    problem = quoted(text) + " is out of range";
    return false;
  }
  return true;
}

ReadResult InputFile::read(Kind kind, std::size_t count, std::span<std::int32_t> integers,
                           std::span<double> reals, std::span<int> value_lines) {
  ReadResult result;
  if (!next_line(result)) return result;
  result.line = line_number_;
  std::size_t pos = 0;
  bool comma_allowed = false;  // a comma may follow a value once
  std::size_t delivered = 0;
  while (delivered < count) {
    while (pos < length_ && is_separator(line_[pos])) {
      if (line_[pos] == ',') {
        if (!comma_allowed) {
          result.status = ReadStatus::error;
          result.line = line_number_;
          result.problem = "empty value before a comma";
          return result;
        }
        comma_allowed = false;
      }
      ++pos;
    }
    if (pos >= length_) {
      if (!next_line(result)) return result;
      pos = 0;
      continue;
    }
    const std::size_t start = pos;
    while (pos < length_ && !is_separator(line_[pos])) ++pos;
    Value value;
    if (!convert(std::string_view(line_ + start, pos - start), kind, value, result.problem)) {
      result.status = ReadStatus::error;
      result.line = line_number_;
      return result;
    }
    if (kind == Kind::integer) {
      integers[delivered] = value.integer;
    } else {
      reals[delivered] = value.real;
    }
    if (delivered < value_lines.size()) value_lines[delivered] = line_number_;
    ++delivered;
    result.delivered = static_cast<int>(delivered);
    result.line = line_number_;
    comma_allowed = true;
  }
  return result;
}

}  // namespace driver
