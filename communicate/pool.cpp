// The worker pool: spawning a group over the hosts of the virtual machine,
// the rotation of the host list, and the emergency teardown.
//
// x_sp_c leaves a trace record on channel 1 for every step. It refuses, with
// an "ERROR ..." record and kErrorExit, more than 33 tasks, a failed host
// query, more than 32 hosts, and a negative shift (just before the first
// spawn request, so no task is left behind). A group of which not every
// task started is torn down by shutdown, which exits with kErrorExit.
#include <pvm3.h>

#include <algorithm>
#include <array>

#include "communicate/communicate.h"
#include "communicate/placement.h"
#include "platform/host.h"
#include "records/channels.h"

namespace communicate {
std::optional<std::int32_t> own_host(const NameField& mycomp, const HostList& host, std::int32_t nhost) {
  const std::size_t len = mycomp.trimmed_length();
  for (std::int32_t i = 1; i <= nhost; ++i) {
    const NameField& comp = host[i];
    const std::size_t lmin = std::min(len, comp.trimmed_length());
    if (mycomp.view().substr(0, lmin) == comp.view().substr(0, lmin)) return i;
  }
  return std::nullopt;
}

void rotate_hosts(HostList& list, std::int32_t nhost, std::int64_t by) {
  if (nhost < 1) return;
  const std::int64_t steps = ((by % nhost) + nhost) % nhost;
  std::rotate(list.data(), list.data() + steps, list.data() + nhost);
}

Placement place_tasks(const NameField& mycomp, const HostList& host, std::int32_t nhost,
                      std::int32_t strt, std::int32_t shft, std::int32_t nproc) {
  Placement p;
  p.own = own_host(mycomp, host, nhost);
  HostList prmhost = host;
  if (p.own) rotate_hosts(prmhost, nhost, *p.own - 1);
  rotate_hosts(prmhost, nhost, strt);
  for (std::int32_t k = 1; k <= nproc; ++k) {
    p.hosts[k] = prmhost[1];
    cmpshft(prmhost, shft, nhost);
  }
  return p;
}

void cmpshft(HostList& array, std::int32_t ishft, std::int32_t ncomp) {
  if (ishft < 0) refuse("ERROR: x_sp_c ishft < 0");
  if (ishft == 0) return;
  if (ncomp < 1 || ncomp > kMaxHosts) refuse("ERROR cmpshft: entry count outside 1..32");
  rotate_hosts(array, ncomp, ishft);
}

void x_sp_c(const NameField& exec, std::int32_t nproc, std::int32_t strt, std::int32_t shft) {
  State& s = state();
  if (nproc > kMaxTids) refuse("ERROR x_sp_c: more than 33 tasks");

  NameField mycomp;
  platform::getcompname(mycomp, static_cast<std::int32_t>(NameField::kLength));
  const auto len = static_cast<std::int32_t>(mycomp.trimmed_length());
  records::print(records::kTrace, "mycomp=", mycomp, " len=", len);

  std::int32_t nhost = 0;
  std::int32_t narch = 0;
  pvmhostinfo* hostp = nullptr;
  s.info = pvm_config(&nhost, &narch, &hostp);
  if (s.info < 0 || nhost < 1 || hostp == nullptr) refuse("ERROR x_sp_c: pvm_config failed");
  if (nhost > kMaxHosts) refuse("ERROR x_sp_c: more than 32 hosts");
  HostList host;
  for (std::int32_t i = 1; i <= nhost; ++i) {
    const char* name = hostp[i - 1].hi_name;
    host[i] = NameField::from(name != nullptr ? std::string_view(name) : std::string_view());
    records::print(records::kTrace, "nhost=", nhost, " host(", i, ")=", host[i]);
    platform::fbuff();
  }

  // A negative shift places no task: it is refused after the own-host record,
  // before the first spawn request, so no task is left behind.
  const Placement placement = place_tasks(mycomp, host, nhost, strt, shft, shft < 0 ? 0 : nproc);
  if (placement.own) {
    records::print(records::kTrace, "I am host(", *placement.own, ")=", host[*placement.own]);
    platform::fbuff();
  }
  if (nproc > 0 && shft < 0) refuse("ERROR: x_sp_c ishft < 0");

  TidArray tids;
  std::array<char, NameField::kLength + 1> task = exec.trimmed_c_text();
  std::int32_t numtot = 0;
  for (std::int32_t k = 1; k <= nproc; ++k) {
    const NameField& where_name = placement.hosts[k];
    records::print(records::kTrace, "prmhost(1)= ", where_name);
    platform::fbuff();
    std::array<char, NameField::kLength + 1> where = where_name.trimmed_c_text();
    const std::int32_t numt = pvm_spawn(task.data(), nullptr, PvmTaskHost, where.data(), 1, &tids[k - 1]);
    s.info = numt;
    // A request that failed as a whole may leave the position unwritten.
    if (numt < 0) tids[k - 1] = numt;
    numtot += numt;
  }

  if (numtot < nproc) {
    records::print(records::kTrace, "trouble spawning ", exec);
    records::print(records::kTrace, " Check tids for error code");
    platform::fbuff();
    shutdown(nproc, tids);
  }
  add2p_info(exec, numtot, tids);
}

void shutdown(std::int32_t nproc, const TidArray& tids) {
  State& s = state();
  if (nproc > kMaxTids) records::print(records::kTrace, "ERROR shutdown: more than 33 tasks");
  const std::int32_t count = std::min(nproc, kMaxTids);
  for (std::int32_t p = 0; p < count; ++p) s.info = pvm_kill(tids[p]);
  s.info = pvm_exit();
  stop(kErrorExit);
}

}  // namespace communicate
