#include "driver/subq.h"

#include "workers/torvo_contract.h"

namespace driver {
namespace {

using torvo::kExec;
using torvo::kJobTag;
using torvo::kTidsTag;
constexpr std::int32_t kWorkers = 5;  // worker tasks
constexpr std::int32_t kStart = 0;    // extra rotation of the host list before the first spawn
constexpr std::int32_t kShift = 1;    // rotation of the host list after each spawn

}  // namespace

void subq(std::int32_t ipopsize, std::int32_t nin, std::int32_t& nout,
          const communicate::ValueBuffer& plistin, communicate::ValueBuffer& plistout) {
  communicate::State& s = communicate::state();
  const std::int32_t ipsz = ipopsize;
  s.snd_c = nin;
  s.r8_frm_p.values = plistin.values;
  communicate::x_sp_c(kExec, kWorkers, kStart, kShift);
  communicate::x_stids(kTidsTag, kExec, kExec);
  communicate::x_cque_c(kJobTag, kExec, ipsz);
  communicate::x_skflg_c(kJobTag, kExec);
  nout = s.rcv_c;
  plistout.values = s.r8_frm_c.values;
}

}  // namespace driver
