// Internal: group lookups that stop instead of handing back no entry.
//
// group_of finds a registered group by name; when there is none, findelm has
// printed its record and the process stops with kErrorExit. member_tid gives
// the task id of member `ip` (0 .. nproc-1) of a group, refusing any other
// index with the caller's record.
#pragma once

#include <string_view>

#include "communicate/communicate.h"

namespace communicate {

// The entry of group `exec`; stops with kErrorExit after findelm's record when none.
procinfo& group_of(const NameField& exec);

// Task id of member `ip` of `group`; refuses with `what` when ip is outside 0 .. nproc-1.
TaskId member_tid(const procinfo& group, std::int32_t ip, std::string_view what);

}  // namespace communicate
