// Fixed-length text fields.
//
// A Field<N> holds exactly N characters, like the fixed text fields of the
// records and messages of this system: a 30-character name, a 70-character
// directory, a 100-character path. A default-constructed field holds N NUL
// characters; from() pads with blanks on the right and cuts after N
// characters. Equality compares all N characters, blanks and NULs included.
#pragma once

#include <array>
#include <cstddef>
#include <string_view>

namespace records {

template <std::size_t N>
struct Field {
  static constexpr std::size_t kLength = N;
  std::array<char, N> chars{};

  // A field holding `text`, blank-padded on the right and cut after N characters.
  static constexpr Field from(std::string_view text) {
    Field f;
    f.chars.fill(' ');
    for (std::size_t i = 0; i < N && i < text.size(); ++i) f.chars[i] = text[i];
    return f;
  }
  // A field of N blanks.
  static constexpr Field blanks() { return from(std::string_view{}); }

  // All N characters.
  constexpr std::string_view view() const { return {chars.data(), N}; }
  // Number of characters without the trailing blanks.
  constexpr std::size_t trimmed_length() const {
    std::size_t n = N;
    while (n > 0 && chars[n - 1] == ' ') --n;
    return n;
  }
  // The characters without the trailing blanks.
  constexpr std::string_view trimmed() const { return {chars.data(), trimmed_length()}; }
  // The same, NUL-terminated, for C interfaces that take a string.
  constexpr std::array<char, N + 1> trimmed_c_text() const {
    std::array<char, N + 1> text{};
    for (std::size_t i = 0; i < trimmed_length(); ++i) text[i] = chars[i];
    return text;
  }

  constexpr char& operator[](std::size_t i) { return chars[i]; }
  constexpr char operator[](std::size_t i) const { return chars[i]; }
  friend constexpr bool operator==(const Field&, const Field&) = default;
};

using NameField = Field<30>;

}  // namespace records
