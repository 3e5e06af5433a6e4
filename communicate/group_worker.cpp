// Worker side of the exchanges: jobs, data slices and flags from the parent,
// results and roll-call replies to it.
//
// Every receive accepts only the parent (mptid) and the given tag; every send
// goes to the parent. Values arrive in r8_frm_p (count rcv_p) and leave from
// r8_frm_c (count snd_p). Refused, with an "ERROR ..." record on channel 1
// and a stop with kErrorExit: a call before the parent's task id is known
// (mptid not positive), the reserved tag kLossTag, a received count outside
// 0..10000, and an snd_p outside 0..10000.
//
// The first receive asks PVM to report the parent's end (loss_watch.h); a
// worker whose parent ends while it waits writes "ERROR <operation>: parent
// task ended, mptid=" and stops with kErrorExit, as it does after a failed
// receive ("ERROR <operation>: receive from the parent failed, info="), so a
// master that is killed leaves no worker behind. Messages the parent sent
// before it ended are still taken first.
#include <pvm3.h>

#include "communicate/communicate.h"
#include "communicate/loss_watch.h"
#include "records/channels.h"

namespace communicate {
namespace {

// The parent's task id; refused while it is not known (waiting on it would
// never end).
TaskId parent(std::string_view operation_record) {
  const TaskId mptid = state().mptid;
  if (mptid <= 0) refuse(operation_record, mptid);
  return mptid;
}

// Sends one integer to the parent.
void send_integer(std::int32_t msgtype, std::int32_t value, std::string_view operation_record) {
  State& s = state();
  const TaskId to = parent(operation_record);
  s.info = pvm_initsend(PvmDataDefault);
  s.info = pvm_pkint(&value, 1, 1);
  s.info = pvm_send(to, msgtype);
}

// The records of one receiving operation.
struct ReceiveRecords {
  std::string_view no_parent;  // mptid not positive
  std::string_view reserved;   // the tag kLossTag
  std::string_view ended;      // the parent ended while the worker waited
  std::string_view failed;     // the receive itself failed
};

// Receives a message from the parent and reads its first integer; stops when
// the parent ends first or the receive fails.
std::int32_t receive_integer(std::int32_t msgtype, const ReceiveRecords& texts) {
  State& s = state();
  static_cast<void>(parent(texts.no_parent));
  std::int32_t value = 0;
  const std::int32_t status = receive_from_parent(msgtype, texts.ended, texts.reserved);
  if (status < 0) refuse(texts.failed, status);
  s.info = pvm_upkint(&value, 1, 1);
  return value;
}

constexpr ReceiveRecords kRdatRecords{
    "ERROR x_rdat_p: no parent task, mptid=", "ERROR x_rdat_p: reserved tag, msgtype=",
    "ERROR x_rdat_p: parent task ended, mptid=",
    "ERROR x_rdat_p: receive from the parent failed, info="};
constexpr ReceiveRecords kRflgRecords{
    "ERROR x_rflg_p: no parent task, mptid=", "ERROR x_rflg_p: reserved tag, msgtype=",
    "ERROR x_rflg_p: parent task ended, mptid=",
    "ERROR x_rflg_p: receive from the parent failed, info="};
constexpr ReceiveRecords kRiflgRecords{
    "ERROR x_riflg_p: no parent task, mptid=", "ERROR x_riflg_p: reserved tag, msgtype=",
    "ERROR x_riflg_p: parent task ended, mptid=",
    "ERROR x_riflg_p: receive from the parent failed, info="};

}  // namespace

void x_rdat_p(std::int32_t msgtype, std::int32_t& istat) {
  State& s = state();
  istat = receive_integer(msgtype, kRdatRecords);
  if (istat == 0) return;  // the stop notice: nothing more in the message
  std::int32_t count = 0;
  s.info = pvm_upkint(&count, 1, 1);
  if (count < 0 || count > kBufferValues) {
    refuse("ERROR x_rdat_p: received count outside 0..10000, rcv_p=", count);
  }
  s.rcv_p = count;
  s.info = pvm_upkdouble(s.r8_frm_p.data(), count, 1);
}

void x_sdat_p(std::int32_t msgtype) {
  State& s = state();
  const TaskId to = parent("ERROR x_sdat_p: no parent task, mptid=");
  if (s.snd_p < 0 || s.snd_p > kBufferValues) {
    refuse("ERROR x_sdat_p: snd_p outside 0..10000, snd_p=", s.snd_p);
  }
  std::int32_t me = s.me;
  std::int32_t count = s.snd_p;
  s.info = pvm_initsend(PvmDataDefault);
  s.info = pvm_pkint(&me, 1, 1);
  s.info = pvm_pkint(&count, 1, 1);
  s.info = pvm_pkdouble(s.r8_frm_c.data(), count, 1);
  s.info = pvm_send(to, msgtype);
}

void x_rflg_p(std::int32_t msgtype, std::int32_t& flg) {
  flg = receive_integer(msgtype, kRflgRecords);
}

void x_riflg_p(std::int32_t msgtype) {
  // The go flag's value does not matter: this is a wait for the parent.
  static_cast<void>(receive_integer(msgtype, kRiflgRecords));
}

void x_siflg_p(std::int32_t msgtype) {
  send_integer(msgtype, state().me, "ERROR x_siflg_p: no parent task, mptid=");
}

}  // namespace communicate
