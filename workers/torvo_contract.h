// The contract between the master and torvo, its worker program: the name
// the master spawns and under which both sides register the group of
// workers, the tag of the task-id list, and the one tag that carries the
// jobs, the results and the stop notices.
#pragma once

#include <cstdint>

#include "records/field.h"

namespace torvo {

inline constexpr records::NameField kExec = records::NameField::from("torvo");  // program and group
inline constexpr std::int32_t kTidsTag = 1;  // task-id list message
inline constexpr std::int32_t kJobTag = 2;   // jobs, results and stop notices

}  // namespace torvo
