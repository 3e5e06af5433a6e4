// Test support: the text of an expected record (a list record or an index
// line), laid out by the record layer.
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "records/format.h"

namespace test_support {

// The text of one list record made of `items` (with its line feeds).
template <class... Items>
std::string record(const Items&... items) {
  const std::array<records::Item, sizeof...(Items)> list{records::Item(items)...};
  std::string out;
  records::append_list_record(out, list);
  return out;
}

// The text of one list record: the text `label`, then every real of `values`.
inline std::string record_of(std::string_view label, std::span<const double> values) {
  std::vector<records::Item> items{records::Item(label)};
  for (const double v : values) items.emplace_back(v);
  std::string out;
  records::append_list_record(out, items);
  return out;
}

// One index line of ten integers (with its line feed).
inline std::string index_line(const std::array<std::int32_t, records::kIndexValues>& values) {
  std::string out;
  records::append_index_line(out, values);
  return out;
}

}  // namespace test_support
