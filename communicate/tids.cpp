// Task-id distribution: the task-id list message, sent by x_stids and taken
// in by x_rtids_p on the worker side.
//
// The message (XDR, PvmDataDefault) holds one int32 count and then count
// int32 task ids. x_stids stops with kErrorExit when a group is not
// registered (after findelm's record), when exactly one optional position is
// given, or when a position lies outside its group. x_rtids_p refuses a task
// without a parent, a failed receive or unpack, and a count outside 0..33,
// and stops when the parent ends before the list has come.
#include <pvm3.h>

#include "communicate/communicate.h"
#include "communicate/groups.h"
#include "communicate/loss_watch.h"
#include "platform/host.h"
#include "records/channels.h"

namespace communicate {

void x_stids(std::int32_t msgtype, const NameField& whosinfo, const NameField& where,
             std::optional<std::int32_t> itm_info, std::optional<std::int32_t> itm_where) {
  State& s = state();
  // Both names are looked up before anything else, each printing its own record.
  const std::optional<std::int32_t> info_k = findelm(whosinfo);
  const std::optional<std::int32_t> where_k = findelm(where);
  if (!info_k || !where_k) stop(kErrorExit);
  if (itm_info.has_value() != itm_where.has_value()) {
    refuse("ERROR x_stds: Both optional entries NOT present");
  }
  procinfo& from = s.p_info[*info_k];
  procinfo& to = s.p_info[*where_k];

  if (!itm_info) {
    std::int32_t count = from.nproc;
    s.info = pvm_initsend(PvmDataDefault);
    s.info = pvm_pkint(&count, 1, 1);
    s.info = pvm_pkint(from.tids.data(), count, 1);
    s.info = pvm_mcast(to.tids.data(), to.nproc, msgtype);
    return;
  }
  std::int32_t id = member_tid(from, *itm_info, "ERROR x_stids: member index outside the group");
  const TaskId target = member_tid(to, *itm_where, "ERROR x_stids: member index outside the group");
  std::int32_t one = 1;
  s.info = pvm_initsend(PvmDataDefault);
  s.info = pvm_pkint(&one, 1, 1);
  s.info = pvm_pkint(&id, 1, 1);
  s.info = pvm_send(target, msgtype);
}

void x_rtids_p(std::int32_t msgtype, const NameField& exec) {
  State& s = state();
  s.mptid = pvm_parent();
  s.mytid = pvm_mytid();
  records::print(records::kTrace, "mptid=", s.mptid);
  platform::fbuff();
  if (s.mptid < 0) refuse("ERROR x_rtids_p: no parent task");

  // Stops when the parent ends before the list has come.
  s.info = receive_from_parent(msgtype, "ERROR x_rtids_p: parent task ended, mptid=",
                               "ERROR x_rtids_p: reserved tag, msgtype=");
  if (s.info < 0) refuse("ERROR x_rtids_p: receive from the parent failed");
  std::int32_t count = -1;
  s.info = pvm_upkint(&count, 1, 1);
  if (s.info < 0) refuse("ERROR x_rtids_p: task-id list unreadable");
  if (count < 0 || count > kMaxTids) refuse("ERROR x_rtids_p: task-id count outside 0..33");
  TidArray thslyrstids;
  if (count > 0) {
    s.info = pvm_upkint(thslyrstids.data(), count, 1);
    if (s.info < 0) refuse("ERROR x_rtids_p: task-id list unreadable");
  }

  for (std::int32_t i = 0; i < count; ++i) {
    if (thslyrstids[i] == s.mytid) s.me = i;
  }
  records::print(records::kTrace, "me=", s.me);
  platform::fbuff();
  add2p_info(exec, count, thslyrstids);
}

}  // namespace communicate
