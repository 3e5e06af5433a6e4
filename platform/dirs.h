// Output-directory helper.
//
// envarc looks an environment variable up and makes sure the directory it
// names exists: an existing directory is accepted, a missing one is created
// with mode 0700 (only its last component). The result is a status code, the
// directory in a blank-padded text field and, for the failures -3 and -4, the
// system's error text in another. When the directory cannot be opened, the
// line "dperrno = <errno> " goes to the buffered C standard output. Every
// field is written only within the given length and its own size.
#pragma once

#include <cstdint>
#include <span>

namespace platform {

inline constexpr std::int32_t kDirReady = 0;           // exists, or has been created
inline constexpr std::int32_t kDirTooLong = -1;        // value longer than the directory field
inline constexpr std::int32_t kDirNoVariable = -2;     // variable not set
inline constexpr std::int32_t kDirCannotOpen = -3;     // exists but cannot be opened as a directory
inline constexpr std::int32_t kDirCannotCreate = -4;   // missing and could not be created
inline constexpr std::int32_t kDirUndetermined = -99;  // set first; every outcome replaces it

// Looks up the variable named by the first `namelen` characters of `envname`
// (a NUL is stored right after them when the field has room), and fills
// `dirbuf` (dirlen characters) with the directory and `errbuf` (errlen
// characters) with the error text, both blank-padded; `stat` gets the status.
void envarc(std::span<char> envname, std::int32_t namelen, std::span<char> dirbuf,
            std::int32_t dirlen, std::int32_t& stat, std::span<char> errbuf, std::int32_t errlen);

}  // namespace platform
