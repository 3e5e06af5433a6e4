// Crashes on purpose, for the test workers that stand in for a task that
// fails: claim_once() lets only the first of several tasks act, through a
// marker file created exclusively; crash_now() ends the task as a crash
// would: no result, no pvm_exit, no exit handlers.
#pragma once

#include <fcntl.h>
#include <unistd.h>

#include <cstdlib>

namespace test_crash {

// True when the environment variable `path_variable` is unset, or when this
// task is the first to create the file it names; false once that file exists.
inline bool claim_once(const char* path_variable) {
  const char* path = std::getenv(path_variable);
  if (path == nullptr) return true;
  const int fd = ::open(path, O_WRONLY | O_CREAT | O_EXCL, 0644);
  if (fd < 0) return false;
  ::close(fd);
  return true;
}

// Ends the task at once with status 3.
[[noreturn]] inline void crash_now() {
  std::_Exit(3);
}

}  // namespace test_crash
