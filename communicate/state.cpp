#include <cerrno>
#include <cstdio>
#include <cstdlib>

#include "communicate/communicate.h"
#include "records/channels.h"

namespace communicate {

State& state() {
  static State s;
  return s;
}

void position_fault(int position, int first, int last) {
  std::fprintf(stderr, "communicate: position %d outside %d..%d\n", position, first, last);
  std::abort();
}

// Every channel is flushed and closed here, records::close_all(), so the
// record that explains a stop is out before the process ends.
void stop(std::int32_t status) {
  if (status != 0) {
    // The record itself went to an output channel; say on standard error
    // that the process ended in failure and where to look.
    std::fprintf(stderr,
                 "%s: stopped after an error (exit status %d); the ERROR record is on standard "
                 "output, in fort.1 or in the task output file\n",
                 program_invocation_short_name, static_cast<int>(status));
  }
  records::close_all();
  std::exit(status);
}

}  // namespace communicate
