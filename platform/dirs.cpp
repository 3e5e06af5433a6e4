#include "platform/dirs.h"

#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>

namespace platform {
namespace {

// The first `length` characters of `field`, never more than the field holds.
std::span<char> first(std::span<char> field, std::int32_t length) {
  const std::size_t n = length <= 0 ? 0 : static_cast<std::size_t>(length);
  return field.first(std::min(n, field.size()));
}

// Copies `text` to the start of `field`, cut at the field's end.
void put(std::span<char> field, std::string_view text) {
  std::copy_n(text.begin(), std::min(text.size(), field.size()), field.begin());
}

// True when `path` opens as a directory; `error` gets errno otherwise.
bool opens_as_directory(const char* path, int& error) {
  errno = 0;
  DIR* d = ::opendir(path);
  error = errno;
  if (d == nullptr) return false;
  ::closedir(d);
  return true;
}

}  // namespace

void envarc(std::span<char> envname, std::int32_t namelen, std::span<char> dirbuf,
            std::int32_t dirlen, std::int32_t& stat, std::span<char> errbuf, std::int32_t errlen) {
  stat = kDirUndetermined;
  const std::span<char> name_chars = first(envname, namelen);
  // Terminate the name in the caller's field when it has room after the name.
  if (name_chars.size() < envname.size()) envname[name_chars.size()] = '\0';
  const std::span<char> dir_field = first(dirbuf, dirlen);
  const std::span<char> err_field = first(errbuf, errlen);
  std::fill(dir_field.begin(), dir_field.end(), ' ');
  std::fill(err_field.begin(), err_field.end(), ' ');

  // A name that fills its whole field is looked up from a terminated copy.
  const std::string name(name_chars.data(), ::strnlen(name_chars.data(), name_chars.size()));
  const char* value = std::getenv(name.c_str());
  if (value == nullptr) {
    stat = kDirNoVariable;
    return;
  }
  const std::string_view text(value);
  if (text.size() > dir_field.size()) {
    stat = kDirTooLong;
    return;
  }

  int open_error = 0;
  if (opens_as_directory(value, open_error)) {
    put(dir_field, text);
    stat = kDirReady;
    return;
  }
  std::printf("dperrno = %d \n", open_error);
  if (open_error != ENOENT) {
    put(err_field, std::strerror(open_error));
    stat = kDirCannotOpen;
    return;
  }
  if (::mkdir(value, 0700) != 0) {
    const int mkdir_error = errno;
    // Another task created it in the meantime: the directory is there.
    int ignored = 0;
    if (mkdir_error == EEXIST && opens_as_directory(value, ignored)) {
      put(dir_field, text);
      stat = kDirReady;
      return;
    }
    put(err_field, std::strerror(mkdir_error));
    stat = kDirCannotCreate;
    return;
  }
  stat = kDirReady;
  put(dir_field, text);
}

}  // namespace platform
