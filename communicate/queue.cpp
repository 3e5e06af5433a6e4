// The job queue and the stop notice.
//
// x_cque_c hands jobs 1 .. ipsz to the members of a group, at most one
// outstanding job per member: the first round gives one job to each member
// in index order, every result brings its member the next job while jobs
// remain, and the queue returns once every job has its result. Job m's input
// is r8_frm_p positions (m-1)*snd_c+1 .. m*snd_c; its result goes to
// r8_frm_c positions (m-1)*c+1 .. m*c, with c the count of that result. A
// result is tied to its job by its sender: the member whose task id sent it
// (pvm_bufinfo), which must also be the member index inside the result.
//
// Lost members. Before the first job goes out the queue asks PVM to report
// the end of every member and the deletion of its host (kLossTag,
// loss_watch.h), and every receive takes a result or such a report. A member
// counts as lost once, whatever the number of reports; the queue then writes
// "LOST member" <index> " task" <tid> " job" <job> on channel 1 (job 0 when
// it held none, so a member lost after its last result costs nothing), and
// its job goes back to the queue: to the next living member that is free,
// else to the next member that returns a result. Waiting jobs go out lowest
// number first, so a run without losses sends exactly the jobs, in exactly
// the order, it always did. A result from a lost member is never filed (its
// job may already be handed on and answered): it leaves "LATE result
// ignored, member" <index> " task" <tid> on channel 1.
//
// Every error record of the queue goes to standard output, where the master's
// user looks: the trap records for a result that matches no outstanding job
// ("ERROR TRAP1: x_cdat_c k=" while jobs wait to go out, "ERROR TRAP2:
// x_cdat_c who=" once all are out; a member index outside the group, one that
// is not its sender's, and a sender outside the group count as such a
// result), and the refusals of the reserved tag, of a job count outside
// 0..100, of job slices that pass the 10000 positions of r8_frm_p, of jobs
// for a group without members, of a result whose slot passes the 10000
// positions of r8_frm_c, of a failed receive, of jobs left with no living
// member ("ERROR x_cque_c: no member left, jobs without result="), and of a
// job lost with its worker kMaxJobLosses times ("ERROR x_cque_c: job lost
// with its worker 3 times, job="). After each of them the group's members
// are killed and the process stops with kErrorExit, so no worker is left
// waiting for a job.
//
// x_skflg_c returns only once its stop notices have left the task
// (flush_sends): the master usually ends right after it.
#include <pvm3.h>

#include <cstdint>

#include "communicate/communicate.h"
#include "communicate/groups.h"
#include "communicate/loss_watch.h"
#include "communicate/master_side.h"
#include "records/channels.h"

namespace communicate {
namespace {

constexpr std::int32_t kNotSent = -1;   // job waiting to go out (first time or again)
constexpr std::int32_t kReceived = -2;  // result received

using JobLine = Positions<std::int32_t, kMaxJobs, 1>;

// The working state of one x_cque_c call.
struct Queue {
  std::int32_t msgtype = 0;
  const procinfo* group = nullptr;
  std::int32_t ipsz = 0;
  JobLine jobline;                              // per job: kNotSent, holder, kReceived
  Positions<std::int32_t, kMaxJobs, 1> losses;  // per job: times lost with its worker
  Positions<std::int32_t, kMaxTids, 0> lost;    // per member: 1 once counted as lost
};

// Number of jobs 1 .. ipsz that `holds` says yes to.
template <class Holds>
std::int32_t count_jobs(const Queue& q, Holds holds) {
  std::int32_t n = 0;
  for (std::int32_t k = 1; k <= q.ipsz; ++k) n += holds(q.jobline[k]) ? 1 : 0;
  return n;
}

// Prints one error record on standard output, kills the group and stops.
[[noreturn]] void queue_error(const procinfo& group, std::string_view what, std::int32_t value) {
  refuse_killing_group(records::kStdout, group, what, value);
}

// Sends job `job` (go flag 1, snd_c, its slice of r8_frm_p) to `member`.
void send_job(Queue& q, std::int32_t member, std::int32_t job) {
  send_slice(*q.group, member, q.msgtype, 1, job - 1);
  q.jobline[job] = member;
}

// The lowest-numbered job waiting to go out, or 0.
std::int32_t waiting_job(const Queue& q) {
  for (std::int32_t k = 1; k <= q.ipsz; ++k) {
    if (q.jobline[k] == kNotSent) return k;
  }
  return 0;
}

// The job `member` holds, or 0.
std::int32_t job_of(const Queue& q, std::int32_t member) {
  for (std::int32_t k = 1; k <= q.ipsz; ++k) {
    if (q.jobline[k] == member) return k;
  }
  return 0;
}

// Gives `member` the next waiting job, if there is one.
void give_next_job(Queue& q, std::int32_t member) {
  const std::int32_t job = waiting_job(q);
  if (job != 0) send_job(q, member, job);
}

// Gives waiting jobs to the living members that hold none, in index order.
void dispatch_to_free_members(Queue& q) {
  for (std::int32_t i = 0; i < q.group->nproc; ++i) {
    if (q.lost[i] == 0 && job_of(q, i) == 0) give_next_job(q, i);
  }
}

// Counts member `member` as lost: one record, and its job waits again.
void lose_member(Queue& q, std::int32_t member) {
  q.lost[member] = 1;
  const std::int32_t job = job_of(q, member);
  records::print(records::kTrace, "LOST member", member, " task", q.group->tids[member], " job",
                 job);
  if (job == 0) return;
  q.jobline[job] = kNotSent;
  static_assert(kMaxJobLosses == 3, "the record below names the number of losses");
  if (++q.losses[job] >= kMaxJobLosses) {
    queue_error(*q.group, "ERROR x_cque_c: job lost with its worker 3 times, job=", job);
  }
}

// Counts every member whose loss has been reported and is not counted yet.
void take_losses(Queue& q) {
  for (std::int32_t i = 0; i < q.group->nproc; ++i) {
    if (q.lost[i] == 0 && task_lost(q.group->tids[i])) lose_member(q, i);
  }
}

// Files the result in the active receive buffer, from task `source`, under
// the job its member holds and gives that member the next job; a result of a
// lost member is ignored, one that matches no outstanding job raises the trap.
void take_result(Queue& q, TaskId source) {
  State& s = state();
  const procinfo& group = *q.group;
  const std::int32_t sender = member_of(group, source);
  if (sender >= 0 && q.lost[sender] != 0) {
    records::print(records::kTrace, "LATE result ignored, member", sender, " task", source);
    return;
  }
  std::int32_t who = 0;
  s.info = pvm_upkint(&who, 1, 1);
  s.who = who;

  const std::int32_t job = sender >= 0 && who == sender ? job_of(q, who) : 0;
  if (job == 0) {
    if (waiting_job(q) != 0) queue_error(group, "ERROR TRAP1: x_cdat_c k=", q.ipsz + 1);
    queue_error(group, "ERROR TRAP2: x_cdat_c who=", who);
  }
  q.jobline[job] = kReceived;

  std::int32_t count = 0;
  if (!unpack_result(job - 1, count)) {
    queue_error(group, "ERROR x_cque_c: result does not fit r8_frm_c, rcv_c=", count);
  }
  give_next_job(q, who);
}

}  // namespace

void x_cque_c(std::int32_t msgtype, const NameField& exec, std::int32_t ipsz) {
  State& s = state();
  const procinfo& group = group_of(exec);
  if (msgtype == kLossTag)
    queue_error(group, "ERROR x_cque_c: tag reserved for loss reports, msgtype=", msgtype);
  if (ipsz < 0 || ipsz > kMaxJobs)
    queue_error(group, "ERROR x_cque_c: job count outside 0..100, ipsz=", ipsz);
  if (s.snd_c < 0 || std::int64_t{ipsz} * s.snd_c > kBufferValues) {
    queue_error(group, "ERROR x_cque_c: job slices pass 10000 positions, snd_c=", s.snd_c);
  }
  if (ipsz > 0 && group.nproc <= 0) {
    queue_error(group, "ERROR x_cque_c: no member to take the jobs, nproc=", group.nproc);
  }

  Queue q;
  q.msgtype = msgtype;
  q.group = &group;
  q.ipsz = ipsz;
  q.jobline.values.fill(kNotSent);
  if (ipsz == 0) return;

  // A member that has ended already is reported at once.
  watch_tasks({group.tids.data(), static_cast<std::size_t>(group.nproc)});
  take_losses(q);
  // First dispatch: one job per living member, in index order.
  dispatch_to_free_members(q);

  for (;;) {
    if (count_jobs(q, [](std::int32_t holder) { return holder >= 0; }) == 0) {
      const std::int32_t received = count_jobs(q, [](std::int32_t v) { return v == kReceived; });
      if (received == ipsz) return;
      // Jobs wait and every living member would hold one: none is left.
      queue_error(group, "ERROR x_cque_c: no member left, jobs without result=", ipsz - received);
    }
    const Received got = receive_or_loss(-1, msgtype);
    if (got.kind == Arrival::failed) {
      queue_error(group, "ERROR x_cque_c: receive failed, info=", s.info);
    } else if (got.kind == Arrival::loss) {
      take_loss_report();
      take_losses(q);
      dispatch_to_free_members(q);
    } else {
      take_result(q, got.source);
    }
  }
}

void x_skflg_c(std::int32_t msgtype, const NameField& exec) {
  const procinfo& group = group_of(exec);
  for (std::int32_t i = 0; i < group.nproc; ++i) {
    send_flag(group, i, msgtype, 0);
    records::print(records::kStdout, "Kill notice from proc =", i, " has been sent!");
  }
  // The master usually ends next: the notices must have left it by then.
  flush_sends();
}

}  // namespace communicate
