// Internal: where the tasks of one x_sp_c call go.
//
// The host list of the virtual machine is rotated so that it starts at the
// own host (the first configured name whose leading characters match the own
// name over the shorter of the two trimmed lengths), then left by `strt`
// positions; each task goes to the first entry, and the list is rotated left
// by `shft` after every task. Pure functions: no PVM, no records.
#pragma once

#include <cstdint>
#include <optional>

#include "communicate/communicate.h"

namespace communicate {

// Host of each task, positions 1 .. nproc.
using TaskHosts = Positions<NameField, kMaxTids, 1>;

struct Placement {
  std::optional<std::int32_t> own;  // position of the own host in the configuration
  TaskHosts hosts;                  // host of task k in position k, k = 1 .. nproc
};

// Position of the first of the `nhost` configured hosts that matches `mycomp`.
std::optional<std::int32_t> own_host(const NameField& mycomp, const HostList& host, std::int32_t nhost);

// Rotates the first `nhost` entries left by `by` positions (right when negative).
void rotate_hosts(HostList& list, std::int32_t nhost, std::int64_t by);

// The placement of `nproc` tasks (none when nproc <= 0). Requires
// 1 <= nhost <= 32, nproc <= 33, and shft >= 0 when nproc > 0.
Placement place_tasks(const NameField& mycomp, const HostList& host, std::int32_t nhost,
                      std::int32_t strt, std::int32_t shft, std::int32_t nproc);

}  // namespace communicate
