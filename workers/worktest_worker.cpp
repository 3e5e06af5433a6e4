// worktest_worker: a worker for the tests of the job queue and the group
// exchanges. It starts like torvo (myinit with group "worktest_worker",
// output directory from WORKTEST_OUT, task ids with tag 1) and then follows
// the script named by WORKTEST_SCRIPT:
//
// jobs (the default): jobs with tag 2 until the stop notice. A job's values
//   are: delay in ms, job id, result count c, a flag, and a member index
//   that, when the flag is 1, is reported instead of the own. The result
//   holds the job id, the own member index and then job id * 1000 + k for
//   k = 3 .. c (c values in all). Each job is logged as "job=" id.
// group: the counterpart of the master's group exchanges. Takes a data slice
//   (tag 2) and logs it, then a flag (tag 3), returns its slice times 10
//   (tag 2) after (2 - me) * 100 ms, answers the roll call (tag 4) after
//   (2 - me) * 100 ms, and takes the closing data message (tag 2).
//
// Losses, for the tests of lost workers (a task that "ends" calls _Exit
// without leaving the virtual machine, as a crashed task would):
//   WORKTEST_DIE_JOB=<id> or "*": a job with this id (any job) makes the task
//     log "dying on job=" id and end after the job's delay, without a result.
//   WORKTEST_END_AFTER_JOB=<id>: the task ends 300 ms after it has sent the
//     result of this job (a task that ends at once may take a message it
//     has just sent with it, so the pause lets the result get away).
//   WORKTEST_FAKE_LOSS_JOB=<id>: on receiving this job the task sends its
//     parent two loss reports naming itself (tag kLossTag, the daemon's
//     layout), then computes and returns the job as usual: to the parent it
//     is a lost member whose result comes late.
//   WORKTEST_ONCE=<path>: each of the above happens only in the first task
//     that creates this file; in every other task the job is plain.
//   WORKTEST_DIE_ROLL=<member>: in the group script, that member ends when
//     called in the roll call, without replying.
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <thread>

#include "communicate/communicate.h"
#include "records/channels.h"
#include "workers/test_crash.h"

namespace {

using namespace communicate;

void pause_ms(double ms) {
  if (ms > 0) std::this_thread::sleep_for(std::chrono::milliseconds(static_cast<long>(ms)));
}

// True when the variable `name` names job `job_id` ("*": every job) and,
// with WORKTEST_ONCE set, this task is the first to claim the action.
bool chosen(const char* name, std::int32_t job_id) {
  const char* text = std::getenv(name);
  if (text == nullptr) return false;
  if (std::string_view(text) != "*" && std::strtol(text, nullptr, 10) != job_id) return false;
  return test_crash::claim_once("WORKTEST_ONCE");
}

// Sends the parent a loss report naming this task, as the daemon would.
void report_own_loss() {
  pk_i1(state().mytid);
  destin(kLossTag, NameField::from("parent"), 0);
}

void run_jobs() {
  State& s = state();
  for (;;) {
    std::int32_t istat = 0;
    x_rdat_p(2, istat);
    if (istat == 0) {
      records::print(records::kTrace, "stop notice");
      return;
    }
    const auto job_id = static_cast<std::int32_t>(s.r8_frm_p[2]);
    const auto count = static_cast<std::int32_t>(s.r8_frm_p[3]);
    records::print(records::kTrace, "job=", job_id, " rcv_p=", s.rcv_p);
    if (chosen("WORKTEST_FAKE_LOSS_JOB", job_id)) {
      report_own_loss();
      report_own_loss();
    }
    s.r8_frm_c[1] = s.r8_frm_p[2];
    s.r8_frm_c[2] = s.me;
    for (std::int32_t k = 3; k <= count && k <= kBufferValues; ++k)
      s.r8_frm_c[k] = job_id * 1000.0 + k;
    s.snd_p = count;
    pause_ms(s.r8_frm_p[1]);
    if (chosen("WORKTEST_DIE_JOB", job_id)) {
      records::print(records::kTrace, "dying on job=", job_id);
      test_crash::crash_now();
    }
    const std::int32_t own = s.me;
    if (s.r8_frm_p[4] == 1.0) s.me = static_cast<std::int32_t>(s.r8_frm_p[5]);
    x_sdat_p(2);
    s.me = own;
    if (chosen("WORKTEST_END_AFTER_JOB", job_id)) {
      pause_ms(300.0);
      test_crash::crash_now();
    }
  }
}

void run_group() {
  State& s = state();
  const std::int32_t sentinel_position = 5;
  s.r8_frm_p[sentinel_position] = -7.0;
  std::int32_t istat = 0;
  x_rdat_p(2, istat);
  records::print(records::kTrace, "istat=", istat, " rcv_p=", s.rcv_p);
  for (std::int32_t k = 1; k <= s.rcv_p + 1; ++k)
    records::print(records::kTrace, "value", k, s.r8_frm_p[k]);
  std::int32_t flg = 0;
  x_rflg_p(3, flg);
  records::print(records::kTrace, "flg=", flg);

  for (std::int32_t k = 1; k <= s.rcv_p; ++k) s.r8_frm_c[k] = s.r8_frm_p[k] * 10.0;
  s.snd_p = s.rcv_p;
  pause_ms((2 - s.me) * 100.0);
  x_sdat_p(2);

  x_riflg_p(4);
  const char* die_roll = std::getenv("WORKTEST_DIE_ROLL");
  if (die_roll != nullptr && std::strtol(die_roll, nullptr, 10) == s.me) test_crash::crash_now();
  pause_ms((2 - s.me) * 100.0);
  x_siflg_p(4);

  x_rdat_p(2, istat);
  records::print(records::kTrace, "istat=", istat, " rcv_p=", s.rcv_p, " first=", s.r8_frm_p[1]);
}

}  // namespace

int main() {
  const NameField exec = NameField::from("worktest_worker");
  EnvField variable = EnvField::from("WORKTEST_OUT");
  myinit(exec, NameField::from("parent"), variable);
  x_rtids_p(1, exec);
  const char* script = std::getenv("WORKTEST_SCRIPT");
  if (script != nullptr && std::string_view(script) == "group") {
    run_group();
  } else {
    run_jobs();
  }
  stop(0);
}
