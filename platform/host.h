// Host name and output flush helpers.
//
// getcompname fills a text field with the name of this host, blank-padded,
// or with "error" when the name cannot be had or does not fit together with
// its terminating NUL. fbuff hands every piece of buffered output of the
// process to the operating system.
#pragma once

#include <cstdint>
#include <span>

#include "records/field.h"

namespace platform {

// Fills the first `complen` characters of `compname` (never more than its
// size) with the host name followed by blanks, or "error" and blanks.
void getcompname(std::span<char> compname, std::int32_t complen);

// The host name in a 30-character name field.
inline void getcompname(records::NameField& compname, std::int32_t complen) {
  getcompname(std::span<char>(compname.chars), complen);
}

// Flushes every buffered output stream of the process.
void fbuff();

}  // namespace platform
