// Test support: the text of an expected record, laid out by the record layer.
#pragma once

#include <array>
#include <string>

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

}  // namespace test_support
