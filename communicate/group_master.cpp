// Master side of the group-wide exchanges: every member's own slice of
// r8_frm_p (or the flag alone), one result per member into r8_frm_c by member
// index, the same flag to every member, and the roll call that releases the
// members one at a time.
//
// Refused, with an "ERROR ..." record on channel 1, the group's members
// killed and a stop with kErrorExit: slices that pass the 10000 positions of
// r8_frm_p, and a result whose member index lies outside the group or whose
// slot passes the 10000 positions of r8_frm_c. An unregistered group name
// stops after findelm's record.
//
// The two exchanges that wait for every member, x_rdat_c and x_riflg_c, ask
// PVM to report the end of each member and the deletion of its host
// (kLossTag, loss_watch.h) and take such a report beside the awaited
// messages. A member lost before it has answered can never answer: the
// exchange stops the same way, with "ERROR x_rdat_c: member lost before its
// result, who=" or "ERROR x_riflg_c: member lost before its reply, who=" and
// the member index; a member lost after its answer changes nothing. A failed
// receive ("... receive failed, info=") and the reserved tag kLossTag
// ("... tag reserved for loss reports, msgtype=") are refused too.
//
// x_sdat_c with the flag 0 (the stop notice) returns only once its messages
// have left the task (flush_sends), as the master usually ends next.
#include <pvm3.h>

#include <cstdint>

#include "communicate/communicate.h"
#include "communicate/groups.h"
#include "communicate/loss_watch.h"
#include "communicate/master_side.h"
#include "platform/host.h"
#include "records/channels.h"

namespace communicate {
namespace {

// Prints one refusal record on channel 1, kills the group and stops.
[[noreturn]] void refuse_for_group(const procinfo& group, std::string_view what,
                                   std::int32_t value) {
  refuse_killing_group(records::kTrace, group, what, value);
}

using Answered = Positions<std::int32_t, kMaxTids, 0>;  // per member: 1 once it answered

// Refuses the reserved tag and asks for the loss reports of every member.
void watch_group(const procinfo& group, std::int32_t msgtype, std::string_view reserved_record) {
  if (msgtype == kLossTag) refuse_for_group(group, reserved_record, msgtype);
  watch_tasks({group.tids.data(), static_cast<std::size_t>(group.nproc)});
}

// Stops with `lost_record` when a member that has not answered is lost.
void check_losses(const procinfo& group, const Answered& answered, std::string_view lost_record) {
  for (std::int32_t i = 0; i < group.nproc; ++i) {
    if (answered[i] == 0 && task_lost(group.tids[i])) refuse_for_group(group, lost_record, i);
  }
}

// Waits for a message with tag `msgtype` from any task, taking the loss
// reports that come first; returns its sender.
TaskId receive_answer(const procinfo& group, std::int32_t msgtype, const Answered& answered,
                      std::string_view lost_record, std::string_view failed_record) {
  for (;;) {
    check_losses(group, answered, lost_record);
    const Received got = receive_or_loss(-1, msgtype);
    if (got.kind == Arrival::message) return got.source;
    if (got.kind == Arrival::failed) refuse_for_group(group, failed_record, state().info);
    take_loss_report();
  }
}

}  // namespace

void send_flag(const procinfo& group, std::int32_t member, std::int32_t msgtype,
               std::int32_t value) {
  State& s = state();
  s.info = pvm_initsend(PvmDataDefault);
  s.info = pvm_pkint(&value, 1, 1);
  s.info = pvm_send(group.tids[member], msgtype);
}

void send_slice(const procinfo& group, std::int32_t member, std::int32_t msgtype,
                std::int32_t flag, std::int32_t slice) {
  State& s = state();
  std::int32_t count = s.snd_c;
  // With count 0 nothing is read from the buffer.
  const std::int32_t j = count == 0 ? 1 : slice * count + 1;
  s.info = pvm_initsend(PvmDataDefault);
  s.info = pvm_pkint(&flag, 1, 1);
  s.info = pvm_pkint(&count, 1, 1);
  s.info = pvm_pkdouble(&s.r8_frm_p[j], count, 1);
  s.info = pvm_send(group.tids[member], msgtype);
}

bool unpack_result(std::int32_t slice, std::int32_t& count) {
  State& s = state();
  s.info = pvm_upkint(&count, 1, 1);
  if (count < 0 || (std::int64_t{slice} + 1) * count > kBufferValues) return false;
  s.rcv_c = count;
  const std::int32_t j = count == 0 ? 1 : slice * count + 1;
  s.info = pvm_upkdouble(&s.r8_frm_c[j], count, 1);
  return true;
}

void flush_sends() {
  State& s = state();
  s.info = pvm_pstat(pvm_mytid());
}

void stop_killing_group(const procinfo& group) {
  State& s = state();
  for (std::int32_t i = 0; i < group.nproc; ++i) s.info = pvm_kill(group.tids[i]);
  stop(kErrorExit);
}

void x_sdat_c(std::int32_t msgtype, const NameField& exec, std::int32_t istat) {
  State& s = state();
  const procinfo& group = group_of(exec);
  if (istat != 0 && (s.snd_c < 0 || std::int64_t{group.nproc} * s.snd_c > kBufferValues)) {
    refuse_for_group(group, "ERROR x_sdat_c: slices pass 10000 positions, snd_c=", s.snd_c);
  }
  for (std::int32_t k = 0; k < group.nproc; ++k) {
    platform::fbuff();
    if (istat == 0) {
      send_flag(group, k, msgtype, 0);
    } else {
      send_slice(group, k, msgtype, istat, k);
    }
  }
  // The stop notice is often the last message a master sends.
  if (istat == 0) flush_sends();
}

void x_rdat_c(std::int32_t msgtype, const NameField& exec) {
  State& s = state();
  const procinfo& group = group_of(exec);
  const std::int32_t nproc = group.nproc;
  watch_group(group, msgtype, "ERROR x_rdat_c: tag reserved for loss reports, msgtype=");
  Answered answered;
  for (std::int32_t i = 0; i < nproc; ++i) {
    const TaskId source = receive_answer(group, msgtype, answered,
                                         "ERROR x_rdat_c: member lost before its result, who=",
                                         "ERROR x_rdat_c: receive failed, info=");
    const std::int32_t sender = member_of(group, source);
    if (sender >= 0) answered[sender] = 1;
    std::int32_t who = 0;
    std::int32_t count = 0;
    s.info = pvm_upkint(&who, 1, 1);
    s.who = who;
    if (who < 0 || who >= nproc) {
      refuse_for_group(group, "ERROR x_rdat_c: member index outside the group, who=", who);
    }
    if (!unpack_result(who, count)) {
      refuse_for_group(group, "ERROR x_rdat_c: result does not fit r8_frm_c, rcv_c=", count);
    }
    records::print(records::kTrace, "rcv from =", who);
  }
}

void x_sflg_c(std::int32_t msgtype, const NameField& exec, std::int32_t flg) {
  const procinfo& group = group_of(exec);
  for (std::int32_t i = 0; i < group.nproc; ++i) send_flag(group, i, msgtype, flg);
}

void x_riflg_c(std::int32_t msgtype, const NameField& exec) {
  State& s = state();
  const procinfo& group = group_of(exec);
  const std::int32_t igo = 1;
  watch_group(group, msgtype, "ERROR x_riflg_c: tag reserved for loss reports, msgtype=");
  // Members 0 .. i-1 have replied when member i is called.
  Answered answered;
  for (std::int32_t i = 0; i < group.nproc; ++i) {
    send_flag(group, i, msgtype, igo);
    receive_answer(group, msgtype, answered, "ERROR x_riflg_c: member lost before its reply, who=",
                   "ERROR x_riflg_c: receive failed, info=");
    answered[i] = 1;
    std::int32_t who = 0;
    s.info = pvm_upkint(&who, 1, 1);
    s.who = who;
    records::print(records::kTrace, "who=", who);
  }
}

}  // namespace communicate
