// Internal to the communicate library: loss reports.
//
// watch_tasks asks PVM, once per task over the life of the process, to send
// this task a report with the tag kLossTag when the task ends and when its
// host leaves the virtual machine (one host-deletion request per host while
// a living watched task runs there). A task that has already ended when it
// is watched is reported at once. A report carries one task id: the ended
// task, or the pvmd of the deleted host; take_loss_report marks every
// watched task it concerns as lost in the table State::watched, so several
// reports for one task count once. receive_or_loss is a blocking pvm_recv
// that takes either the awaited message or a loss report, whichever comes
// first (a report comes from the daemon, so it is matched on its tag alone).
#pragma once

#include <cstdint>
#include <span>
#include <string_view>

#include "communicate/communicate.h"

namespace communicate {

// Asks for the loss reports of every task of `tids` not watched yet
// (task ids that are not positive are skipped).
void watch_tasks(std::span<const TaskId> tids);

// True once the end of `tid` or the deletion of its host has been reported.
bool task_lost(TaskId tid);

enum class Arrival { message, loss, failed };

// What a receive brought: its kind and the task id of its sender.
struct Received {
  Arrival kind = Arrival::failed;
  TaskId source = 0;
};

// Blocks until a message with tag `msgtype` (-1: any) from `from` (-1: any
// task) or a loss report is the active receive buffer. The status of the
// receive goes to info; a failed receive returns Arrival::failed.
Received receive_or_loss(TaskId from, std::int32_t msgtype);

// Reads the loss report in the active receive buffer and marks the watched
// tasks it concerns as lost.
void take_loss_report();

// The member of `group` whose task id is `tid` (a message's sender), or -1.
std::int32_t member_of(const procinfo& group, TaskId tid);

// Worker side: waits for a message with tag `msgtype` from the parent
// (mptid) and returns the status of the receive. When the parent ends
// first, writes `ended_record` with mptid to channel 1 and stops with
// kErrorExit. The tag kLossTag is refused with `reserved_record`.
std::int32_t receive_from_parent(std::int32_t msgtype, std::string_view ended_record,
                                 std::string_view reserved_record);

}  // namespace communicate
