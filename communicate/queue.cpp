// The job queue and the stop notice.
//
// x_cque_c hands jobs 1 .. ipsz to the members of a group, at most one
// outstanding job per member: the first round gives min(nproc, ipsz) jobs,
// every result that arrives while jobs remain brings its member the next
// job, and the collection takes exactly the results still outstanding. Job
// m's input is r8_frm_p positions (m-1)*snd_c+1 .. m*snd_c; its result goes
// to r8_frm_c positions (m-1)*c+1 .. m*c, with c the count of that result.
// The member index inside a result is the only link to its job.
//
// Every error record of the queue goes to standard output, where the master's
// user looks: the trap records for a result that matches no outstanding job
// ("ERROR TRAP1: x_cdat_c k=" while jobs remain, "ERROR TRAP2: x_cdat_c who="
// in the collection; a member index outside the group counts as such a
// result), and the refusals of a job count outside 0..100, of job slices that
// pass the 10000 positions of r8_frm_p, of jobs for a group without members,
// and of a result whose slot passes the 10000 positions of r8_frm_c. After
// each of them the group's members are killed and the process stops with
// kErrorExit, so no worker is left waiting for a job.
#include <pvm3.h>

#include <algorithm>
#include <cstdint>

#include "communicate/communicate.h"
#include "communicate/groups.h"
#include "communicate/master_side.h"
#include "records/channels.h"

namespace communicate {
namespace {

constexpr std::int32_t kNotSent = -1;   // job not handed out yet
constexpr std::int32_t kReceived = -2;  // result received

using JobLine = Positions<std::int32_t, kMaxJobs, 1>;

// Prints one error record on standard output, kills the group and stops.
[[noreturn]] void queue_error(const procinfo& group, std::string_view what, std::int32_t value) {
  records::print(records::kStdout, what, value);
  stop_killing_group(group);
}

// Sends job `job` (go flag 1, snd_c, its slice of r8_frm_p) to `member`.
void send_job(std::int32_t msgtype, const procinfo& group, std::int32_t member, std::int32_t job) {
  State& s = state();
  std::int32_t istat = 1;
  std::int32_t count = s.snd_c;
  // With count 0 nothing is read from the buffer.
  const std::int32_t j = count == 0 ? 1 : (job - 1) * count + 1;
  s.info = pvm_initsend(PvmDataDefault);
  s.info = pvm_pkint(&istat, 1, 1);
  s.info = pvm_pkint(&count, 1, 1);
  s.info = pvm_pkdouble(&s.r8_frm_p[j], count, 1);
  s.info = pvm_send(group.tids[member], msgtype);
}

enum class Phase { refill, collection };

// Receives one result, files it under the job its member holds and returns
// that job; a result that matches no outstanding job raises the trap.
std::int32_t take_result(std::int32_t msgtype, const procinfo& group, JobLine& jobline,
                         std::int32_t ipsz, Phase phase) {
  State& s = state();
  s.info = pvm_recv(-1, msgtype);
  std::int32_t who = 0;
  s.info = pvm_upkint(&who, 1, 1);
  s.who = who;

  std::int32_t job = 0;
  if (who >= 0 && who < group.nproc) {
    for (std::int32_t k = 1; k <= ipsz; ++k) {
      if (jobline[k] == who) {
        job = k;
        break;
      }
    }
  }
  if (job == 0) {
    if (phase == Phase::refill) queue_error(group, "ERROR TRAP1: x_cdat_c k=", ipsz + 1);
    queue_error(group, "ERROR TRAP2: x_cdat_c who=", who);
  }
  jobline[job] = kReceived;

  std::int32_t count = 0;
  s.info = pvm_upkint(&count, 1, 1);
  if (count < 0 || std::int64_t{job} * count > kBufferValues) {
    queue_error(group, "ERROR x_cque_c: result does not fit r8_frm_c, rcv_c=", count);
  }
  s.rcv_c = count;
  const std::int32_t j = count == 0 ? 1 : (job - 1) * count + 1;
  s.info = pvm_upkdouble(&s.r8_frm_c[j], count, 1);
  return job;
}

}  // namespace

void x_cque_c(std::int32_t msgtype, const NameField& exec, std::int32_t ipsz) {
  State& s = state();
  const procinfo& group = group_of(exec);
  if (ipsz < 0 || ipsz > kMaxJobs)
    queue_error(group, "ERROR x_cque_c: job count outside 0..100, ipsz=", ipsz);
  if (s.snd_c < 0 || std::int64_t{ipsz} * s.snd_c > kBufferValues) {
    queue_error(group, "ERROR x_cque_c: job slices pass 10000 positions, snd_c=", s.snd_c);
  }
  if (ipsz > 0 && group.nproc <= 0) {
    queue_error(group, "ERROR x_cque_c: no member to take the jobs, nproc=", group.nproc);
  }

  JobLine jobline;
  jobline.values.fill(kNotSent);
  std::int32_t jobindex = 0;

  // First dispatch: one job per member, never beyond the population.
  const std::int32_t first_round = std::min(group.nproc, ipsz);
  for (std::int32_t i = 0; i < first_round; ++i) {
    ++jobindex;
    send_job(msgtype, group, i, jobindex);
    jobline[jobindex] = i;
  }
  std::int32_t outstanding = first_round;

  // Refill: each result brings its member the next job.
  while (jobindex < ipsz) {
    take_result(msgtype, group, jobline, ipsz, Phase::refill);
    ++jobindex;
    send_job(msgtype, group, s.who, jobindex);
    jobline[jobindex] = s.who;
  }

  // Collection: the results still outstanding, one per busy member.
  for (; outstanding > 0; --outstanding)
    take_result(msgtype, group, jobline, ipsz, Phase::collection);
}

void x_skflg_c(std::int32_t msgtype, const NameField& exec) {
  State& s = state();
  const procinfo& group = group_of(exec);
  for (std::int32_t i = 0; i < group.nproc; ++i) {
    std::int32_t istat = 0;
    s.info = pvm_initsend(PvmDataDefault);
    s.info = pvm_pkint(&istat, 1, 1);
    s.info = pvm_send(group.tids[i], msgtype);
    records::print(records::kStdout, "Kill notice from proc =", i, " has been sent!");
  }
}

}  // namespace communicate
