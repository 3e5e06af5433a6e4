#include "records/format.h"

#include <array>
#include <charconv>
#include <cmath>
#include <cstdio>

namespace records {
namespace {

constexpr int kDigits = 15;       // significant digits of a real field
constexpr int kFixedColumns = 18;  // fixed form: sign and digits right-aligned here
constexpr int kExponentDigits = 3;

// Fifteen significant digits of a positive finite value, rounded half up,
// and the decimal exponent of the first digit.
struct Decimal {
  std::array<char, kDigits> digits;
  int exponent;
};

// Digits of `a` (positive, finite) in scientific notation with `precision`
// digits after the point: the first digit, then the others, and the exponent.
int scientific_digits(double a, int precision, char* digits, int capacity) {
  std::array<char, 64> text{};
  auto res = std::to_chars(text.data(), text.data() + text.size(), a,
                           std::chars_format::scientific, precision);
  // text: d.ddddde[+-]xx
  char* p = text.data();
  int n = 0;
  for (; p < res.ptr && *p != 'e'; ++p) {
    if (*p != '.' && n < capacity) digits[n++] = *p;
  }
  int exponent = 0;
  std::from_chars(p + 1 + (p[1] == '+' ? 1 : 0), res.ptr, exponent);
  return exponent;
}

// Exact decimal digits are needed only when the 17-digit rounding leaves the
// 16th and 17th digits at exactly "50": then the remainder may lie on either
// side of the half, and glibc's printf gives the exact expansion.
int exact_scientific_digits(double a, char* digits, int capacity) {
  std::array<char, 80> text{};
  std::snprintf(text.data(), text.size(), "%.39e", a);
  const char* p = text.data();
  int n = 0;
  for (; *p != '\0' && *p != 'e'; ++p) {
    if (*p != '.' && n < capacity) digits[n++] = *p;
  }
  int exponent = 0;
  std::from_chars(p + 1 + (p[1] == '+' ? 1 : 0), text.data() + std::char_traits<char>::length(text.data()),
                  exponent);
  return exponent;
}

Decimal round_to_15(double a) {
  std::array<char, 40> d{};
  int exponent = scientific_digits(a, 16, d.data(), 17);  // 17 significant digits
  if (d[15] == '5' && d[16] == '0') {
    exponent = exact_scientific_digits(a, d.data(), 40);
  }
  Decimal r{};
  for (int i = 0; i < kDigits; ++i) r.digits[static_cast<std::size_t>(i)] = d[static_cast<std::size_t>(i)];
  r.exponent = exponent;
  if (d[15] >= '5') {  // half up
    int i = kDigits - 1;
    while (i >= 0 && r.digits[static_cast<std::size_t>(i)] == '9') {
      r.digits[static_cast<std::size_t>(i)] = '0';
      --i;
    }
    if (i >= 0) {
      ++r.digits[static_cast<std::size_t>(i)];
    } else {  // carried into a new leading digit
      r.digits[0] = '1';
      ++r.exponent;
    }
  }
  return r;
}

void append_right_aligned(std::string& out, const char* text, int length, int width) {
  for (int i = length; i < width; ++i) out.push_back(' ');
  out.append(text, static_cast<std::size_t>(length));
}

}  // namespace

void append_real_field(std::string& out, double x) {
  if (std::isnan(x)) {
    out.append(static_cast<std::size_t>(kRealWidth), '?');
    return;
  }
  if (std::isinf(x)) {
    out.append(static_cast<std::size_t>(kRealWidth), x > 0 ? '+' : '-');
    return;
  }
  std::array<char, 32> text{};
  int n = 0;
  if (x < 0) text[static_cast<std::size_t>(n++)] = '-';
  const double a = std::fabs(x);
  auto put = [&](char c) { text[static_cast<std::size_t>(n++)] = c; };

  if (a == 0.0) {
    for (char c : std::string_view("0.00000000000000D+000")) put(c);
    append_right_aligned(out, text.data(), n, kRealWidth);
    return;
  }
  const Decimal d = round_to_15(a);
  const bool fixed = a >= 0.1 && a < 1e15 && d.exponent < kDigits;
  if (fixed) {
    if (d.exponent < 0) {  // 0.1 <= a < 1 and no carry: "0." and 15 digits
      put('0');
      put('.');
      for (char c : d.digits) put(c);
    } else {
      const int integer_digits = d.exponent + 1;
      for (int i = 0; i < kDigits; ++i) {
        if (i == integer_digits) put('.');
        put(d.digits[static_cast<std::size_t>(i)]);
      }
      if (integer_digits == kDigits) put('.');
    }
    append_right_aligned(out, text.data(), n, kFixedColumns);
    out.append(static_cast<std::size_t>(kRealWidth - kFixedColumns), ' ');
    return;
  }
  put(d.digits[0]);
  put('.');
  for (int i = 1; i < kDigits; ++i) put(d.digits[static_cast<std::size_t>(i)]);
  put('D');
  put(d.exponent < 0 ? '-' : '+');
  int e = d.exponent < 0 ? -d.exponent : d.exponent;
  std::array<char, kExponentDigits> exp_digits{};
  for (int i = kExponentDigits - 1; i >= 0; --i) {
    exp_digits[static_cast<std::size_t>(i)] = static_cast<char>('0' + e % 10);
    e /= 10;
  }
  for (char c : exp_digits) put(c);
  append_right_aligned(out, text.data(), n, kRealWidth);
}

void append_integer_field(std::string& out, std::int32_t value) {
  std::array<char, 16> text{};
  auto res = std::to_chars(text.data(), text.data() + text.size(), value);
  append_right_aligned(out, text.data(), static_cast<int>(res.ptr - text.data()), kIntegerWidth);
}

void append_list_record(std::string& out, std::span<const Item> items) {
  int column = 0;  // columns used on the current line
  bool previous_was_text = false;
  bool first = true;
  auto end_line = [&] {
    out.push_back('\n');
    column = 0;
  };
  for (const Item& item : items) {
    if (item.kind() == Item::Kind::text) {
      const bool blank = first || !previous_was_text;
      if (blank) {
        if (column + 2 > kLineLimit) end_line();
        out.push_back(' ');
        ++column;
      }
      for (char c : item.text()) {
        if (column + 1 > kLineLimit) {
          end_line();
          out.push_back(' ');
          ++column;
        }
        out.push_back(c);
        ++column;
      }
      previous_was_text = true;
    } else {
      const int width = item.kind() == Item::Kind::integer ? kIntegerWidth : kRealWidth;
      if (column + 1 + width > kLineLimit) end_line();
      out.push_back(' ');
      if (item.kind() == Item::Kind::integer) {
        append_integer_field(out, item.integer());
      } else {
        append_real_field(out, item.real());
      }
      column += 1 + width;
      previous_was_text = false;
    }
    first = false;
  }
  if (items.empty()) out.push_back(' ');
  out.push_back('\n');
}

void append_index_line(std::string& out, std::span<const std::int32_t, kIndexValues> values) {
  for (std::int32_t v : values) {
    out.push_back(' ');
    if (v < -99 || v > 999) {
      out.append(static_cast<std::size_t>(kIndexWidth), '*');
    } else {
      std::array<char, 8> text{};
      auto res = std::to_chars(text.data(), text.data() + text.size(), v);
      append_right_aligned(out, text.data(), static_cast<int>(res.ptr - text.data()), kIndexWidth);
    }
  }
  out.push_back('\n');
}

}  // namespace records
