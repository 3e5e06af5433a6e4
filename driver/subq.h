// Population evaluation: runs the whole worker computation for one
// parameter list.
//
// subq loads plistin (all 10000 positions) into the library's send buffer
// with nin values per job, starts 5 tasks of the worker program torvo (host
// placement: the own host first, one host further per task), sends them the
// group's task ids with tag 1, runs the job queue with tag 2 over ipopsize
// jobs, sends every worker the stop notice with tag 2, and hands back the
// workers' values per individual in nout and all 10000 result positions in
// plistout. Failures of the steps end the process inside the library.
#pragma once

#include <cstdint>

#include "communicate/communicate.h"

namespace driver {

// Evaluates ipopsize individuals of nin values each; individual p's results
// are plistout positions nout*(p-1)+1 .. nout*p.
void subq(std::int32_t ipopsize, std::int32_t nin, std::int32_t& nout,
          const communicate::ValueBuffer& plistin, communicate::ValueBuffer& plistout);

}  // namespace driver
