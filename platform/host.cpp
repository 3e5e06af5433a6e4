#include "platform/host.h"

#include <unistd.h>

#include <algorithm>
#include <cstring>

#include "records/channels.h"

namespace platform {

void getcompname(std::span<char> compname, std::int32_t complen) {
  if (complen <= 0) return;
  const std::size_t width = std::min(compname.size(), static_cast<std::size_t>(complen));
  std::fill_n(compname.begin(), width, ' ');
  // One byte more than the field, so that a name that fills the whole field
  // (and so leaves no room for its NUL) is seen and refused.
  char name[256 + 2] = {};
  const std::size_t asked = std::min(width, sizeof name - 1);
  bool ok = ::gethostname(name, sizeof name) == 0;
  const std::size_t length = ok ? ::strnlen(name, sizeof name) : 0;
  if (!ok || length + 1 > asked) {
    std::memcpy(compname.data(), "error", std::min<std::size_t>(5, width));
    return;
  }
  std::memcpy(compname.data(), name, length);
}

void fbuff() { records::flush_all(); }

}  // namespace platform
