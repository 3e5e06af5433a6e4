// Send and receive addressed by group name and member index.
//
// destin sends the active send buffer to one member or to every member of a
// registered group and clears pkset. recv waits for a tag from any task, from
// member 0 of a group, or from a given member. An unregistered group stops the
// process with kErrorExit after findelm's record; a member index outside
// 0 .. nproc-1 is refused. A member index without a group is a logic failure:
// recv prints its record and returns without receiving.
#include <pvm3.h>

#include "communicate/communicate.h"
#include "communicate/groups.h"
#include "platform/host.h"
#include "records/channels.h"

namespace communicate {

void destin(std::int32_t msgtype, const NameField& prcn, std::optional<std::int32_t> ip) {
  State& s = state();
  procinfo& group = group_of(prcn);
  if (ip) {
    s.info = pvm_send(member_tid(group, *ip, "ERROR destin: member index outside the group"), msgtype);
  } else {
    s.info = pvm_mcast(group.tids.data(), group.nproc, msgtype);
  }
  s.pkset = 0;
}

void recv(std::int32_t msgtype, const std::optional<NameField>& prcn, std::optional<std::int32_t> ip) {
  State& s = state();
  if (!prcn) {
    if (ip) {
      records::print(records::kTrace, "ERROR communicate:recv logic falure");
      platform::fbuff();
      return;
    }
    s.info = pvm_recv(-1, msgtype);
    return;
  }
  const procinfo& group = group_of(*prcn);
  const TaskId from = member_tid(group, ip.value_or(0), "ERROR recv: member index outside the group");
  s.info = pvm_recv(from, msgtype);
}

}  // namespace communicate
