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

void stop(std::int32_t status) {
  records::close_all();
  std::exit(status);
}

void refuse(std::string_view what) {
  records::print(records::kTrace, what);
  records::flush_all();
  stop(kErrorExit);
}

}  // namespace communicate
