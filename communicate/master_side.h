// Internal to the communicate library: the master side's way out after an
// error. A master that stops while its workers wait for their next message
// would leave them blocked on the virtual machine for ever, so it kills
// every member of the group first.
#pragma once

#include "communicate/communicate.h"

namespace communicate {

// Kills members 0 .. nproc-1 of `group` (pvm_kill each) and stops the
// process with kErrorExit. The caller has printed its record.
[[noreturn]] void stop_killing_group(const procinfo& group);

}  // namespace communicate
