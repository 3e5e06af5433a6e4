// Internal to the communicate library: the master side's way out after an
// error. A master that stops while its workers wait for their next message
// would leave them blocked on the virtual machine for ever, so it kills
// every member of the group first. Also the flush that the stop notices
// need before a master ends.
#pragma once

#include "communicate/communicate.h"

namespace communicate {

// Returns once every message this task has sent has left it for the
// daemon. PVM may still hold a sent message in the task when loss reports
// come in while it sends, and a task that ends right after sending would
// lose it; a request to the daemon (pvm_pstat of the own task) is answered
// only after everything queued before it has been read.
void flush_sends();

// Kills members 0 .. nproc-1 of `group` (pvm_kill each) and stops the
// process with kErrorExit. The caller has printed its record.
[[noreturn]] void stop_killing_group(const procinfo& group);

// Writes one record made of `items` to `channel`, kills the group's members
// and stops with kErrorExit.
template <class... Items>
[[noreturn]] void refuse_killing_group(records::Channel channel, const procinfo& group,
                                       const Items&... items) {
  records::print(channel, items...);
  stop_killing_group(group);
}

// Sends the message of the one integer `value` to member `member` of `group`
// (a stop notice when value is 0).
void send_flag(const procinfo& group, std::int32_t member, std::int32_t msgtype, std::int32_t value);

// Sends member `member` of `group` the flag `flag`, snd_c and slice `slice`
// of r8_frm_p (positions slice*snd_c+1 .. (slice+1)*snd_c): a job of the job
// queue or a member's share of a data exchange.
void send_slice(const procinfo& group, std::int32_t member, std::int32_t msgtype,
                std::int32_t flag, std::int32_t slice);

// Reads the count of the result in the active receive buffer into `count`
// and its values into slot `slice` of r8_frm_c (positions slice*count+1 ..
// (slice+1)*count), and sets rcv_c. Returns false, having read no value,
// when they would pass the 10000 positions.
bool unpack_result(std::int32_t slice, std::int32_t& count);

}  // namespace communicate
