// worktest_startup: runs the worker start-up operations alone, for tests.
//
//   openf UNIT NAME VARIABLE   openf(UNIT, NAME, VARIABLE), then the record
//                              "after openf" on channel 1 and
//                              "NUL at=" with the position (from 1) of the
//                              first NUL in the variable's field on stdout.
//   myinit EXEC VARIABLE       myinit(EXEC, "parent", VARIABLE), then on
//                              stdout "mytid=", "cmytid=", and the parent
//                              group's "nproc=" and "tid0=".
// Exit status 0 when the operation returns.
#include <cstdint>
#include <string_view>

#include "communicate/communicate.h"
#include "records/channels.h"

namespace {

using namespace communicate;

std::int32_t first_nul(const EnvField& field) {
  for (std::size_t i = 0; i < field.kLength; ++i) {
    if (field[i] == '\0') return static_cast<std::int32_t>(i + 1);
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 4) return 2;
  const std::string_view mode = argv[1];
  if (mode == "openf" && argc >= 5) {
    EnvField variable = EnvField::from(argv[4]);
    openf(static_cast<std::int32_t>(std::strtol(argv[2], nullptr, 10)), NameField::from(argv[3]),
          variable);
    records::print(records::kTrace, "after openf");
    records::print(records::kStdout, "NUL at=", first_nul(variable));
    stop(0);
  }
  if (mode == "myinit") {
    EnvField variable = EnvField::from(argv[3]);
    const NameField parent = NameField::from("parent");
    myinit(NameField::from(argv[2]), parent, variable);
    State& s = state();
    records::print(records::kStdout, "mytid=", get_mytid());
    records::print(records::kStdout, "cmytid=", get_cmytid());
    const std::optional<std::int32_t> entry = findelm(parent);
    if (entry) {
      records::print(records::kStdout, "entry=", *entry);
      records::print(records::kStdout, "nproc=", s.p_info[*entry].nproc);
      records::print(records::kStdout, "tid0=", s.p_info[*entry].tids[0]);
    }
    stop(0);
  }
  return 2;
}
