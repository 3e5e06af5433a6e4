// The process-group table p_info and the accessors of the module state.
//
// The table is initialised by the first add2p_info of the process only;
// before that every entry holds 30 NUL characters, so no name can be found.
// Entries are filled in index order and never released. A lookup that finds
// nothing and a registration into a full table each print one "ERROR ..."
// record on channel 1; a registration that cannot be stored then stops the
// process with kErrorExit instead of losing the group, and a member count
// outside 0..33 is refused, so every entry's nproc fits its task-id list.
#include "communicate/communicate.h"
#include "communicate/groups.h"
#include "platform/host.h"
#include "records/channels.h"

namespace communicate {

void initp_info() {
  State& s = state();
  const NameField free_name = NameField::from("xxx");
  for (int k = s.p_info.first(); k <= s.p_info.last(); ++k) {
    procinfo& entry = s.p_info[k];
    entry.exec = free_name;
    entry.status = 0;
    entry.nproc = 0;
    entry.tids.values.fill(0);
  }
}

std::optional<std::int32_t> newelm() {
  State& s = state();
  for (int k = s.p_info.first(); k <= s.p_info.last(); ++k) {
    if (s.p_info[k].status == 0) return k;
  }
  records::print(records::kTrace, "ERROR newelm: no more new elements");
  platform::fbuff();
  return std::nullopt;
}

std::optional<std::int32_t> findelm(const NameField& exec) {
  State& s = state();
  for (int k = s.p_info.first(); k <= s.p_info.last(); ++k) {
    if (s.p_info[k].exec == exec) return k;
  }
  records::print(records::kTrace, "ERROR findelm: p_info index corr. to exec not found");
  platform::fbuff();
  return std::nullopt;
}

void add2p_info(const NameField& exec, std::int32_t nproc, const TidArray& tids) {
  State& s = state();
  if (nproc < 0 || nproc > kMaxTids) refuse("ERROR add2p_info: member count outside 0..33");
  if (s.ifst == 1) {
    initp_info();
    s.ifst = 0;
  }
  const std::optional<std::int32_t> k = newelm();
  // The table is full: newelm has printed its record; the group is not lost silently.
  if (!k) stop(kErrorExit);
  procinfo& entry = s.p_info[*k];
  entry.status = 1;
  entry.exec = exec;
  entry.nproc = nproc;
  entry.tids = tids;
}

std::int32_t get_nproc(const NameField& exec) {
  const std::optional<std::int32_t> k = findelm(exec);
  return k ? state().p_info[*k].nproc : 0;
}

std::int32_t get_me() { return state().me; }

procinfo& group_of(const NameField& exec) {
  const std::optional<std::int32_t> k = findelm(exec);
  if (!k) stop(kErrorExit);
  return state().p_info[*k];
}

TaskId member_tid(const procinfo& group, std::int32_t ip, std::string_view what) {
  if (ip < 0 || ip >= group.nproc) refuse(what);
  return group.tids[ip];
}

TaskId get_mytid() { return state().mytid; }

Field<10> get_cmytid() { return state().cmytid; }

}  // namespace communicate
