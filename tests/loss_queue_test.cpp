// Lost members in the job queue and the group exchanges, against real
// worktest_worker tasks on a private virtual machine, driven by the
// worktest_master program. The workers end on chosen jobs (WORKTEST_DIE_JOB,
// WORKTEST_END_AFTER_JOB, WORKTEST_DIE_ROLL) or claim their own loss before
// they answer (WORKTEST_FAKE_LOSS_JOB), so every loss lands at a known point.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "communicate/communicate.h"
#include "tests/work_support.h"

namespace {

using test_support::RunResult;
using work_test::record;
using work_test::Env;

// A bed whose worktest_worker tasks see `env` and, with `once`,
// WORKTEST_ONCE naming a file of the bed.
struct LossBed : work_test::WorkerBed {
  LossBed(Env extra, bool once)
      : WorkerBed("lossq", std::move(extra), once ? Env{{"WORKTEST_ONCE", "once"}} : Env{}) {}
};

using work_test::lost_members;
using work_test::r8_frm_c_records;

// Members named by the "LATE result ignored, member" records, in order.
std::vector<int> late_results(const std::string& fort1) {
  std::vector<int> found;
  for (const std::string& line : work_test::lines(fort1)) {
    const auto w = work_test::words(line);
    if (w.size() == 7 && w[0] == "LATE" && w[3] == "member") found.push_back(std::stoi(w[4]));
  }
  return found;
}

// Jobs the workers logged on receipt ("job=" records), dying attempts included.
using work_test::jobs_logged;

struct SurvivalCase {
  const char* what;
  Env env;                                // the chosen loss
  std::vector<std::string> args;          // worktest_master arguments (a queue run)
  std::vector<std::pair<int, int>> lost;  // expected LOST records (member, job)
  std::vector<int> late;                  // expected LATE records (member)
  int logged;                             // jobs the workers logged
  std::map<int, int> member_of_job;       // jobs whose computing member is known
  std::vector<int> not_member_of_job;     // jobs not computed by the member of lost[0]
};

// The queue finishes every job with its right result whatever member is
// lost when, and writes one record per lost member.
TEST(LostMember, QueueFinishesEveryJob) {
  const std::vector<SurvivalCase> cases = {
      {"a member ends on its job of the first round",
       {{"WORKTEST_DIE_JOB", "2"}},
       {"queue", "3", "6", "5", "100,2", "100,2", "100,2", "100,2", "100,2", "100,2"},
       {{1, 2}},
       {},
       7,
       {},
       {2}},
      // Members 0 and 1 are free when the loss comes: the lower one takes the job.
      {"a member ends while every job is out",
       {{"WORKTEST_DIE_JOB", "3"}},
       {"queue", "3", "3", "5", "0,2", "0,2", "300,2"},
       {{2, 3}},
       {},
       4,
       {{1, 0}, {2, 1}, {3, 0}},
       {}},
      {"a member ends after its last result: it costs nothing",
       {{"WORKTEST_END_AFTER_JOB", "3"}},
       {"queue", "3", "3", "5", "900,2", "900,2", "0,2"},
       {{2, 0}},
       {},
       3,
       {{1, 0}, {2, 1}, {3, 2}},
       {}},
      // Member 0 is sent job 4 before its loss is known: job 4 goes on.
      {"a member ends after a result while jobs remain",
       {{"WORKTEST_END_AFTER_JOB", "1"}},
       {"queue", "3", "6", "5", "0,2", "700,2", "700,2", "100,2", "100,2", "100,2"},
       {{0, 4}},
       {},
       6,
       {{1, 0}},
       {4}},
      // Two reports for one member count once; its result comes after
      // job 2 has gone to another member and is not filed.
      {"a member reported lost answers late",
       {{"WORKTEST_FAKE_LOSS_JOB", "2"}},
       {"queue", "3", "4", "5", "900,2", "200,2", "0,2", "0,2"},
       {{1, 2}},
       {1},
       5,
       {{1, 0}},
       {2}},
  };
  for (const SurvivalCase& c : cases) {
    SCOPED_TRACE(c.what);
    LossBed bed(c.env, true);
    ASSERT_TRUE(bed.vm.ok()) << bed.vm.error();
    const RunResult run = bed.master(c.args);
    ASSERT_EQ(run.exit_status, 0) << run.out << run.err << bed.fort1();
    const int ipsz = std::stoi(c.args[2]);
    const std::map<int, double> values = r8_frm_c_records(run.out);
    ASSERT_EQ(values.size(), static_cast<std::size_t>(2 * ipsz + 2)) << run.out;
    for (int m = 1; m <= ipsz; ++m) EXPECT_EQ(values.at(2 * m - 1), m) << "job " << m;
    for (const auto& [job, member] : c.member_of_job)
      EXPECT_EQ(values.at(2 * job), member) << "job " << job;
    for (int job : c.not_member_of_job)
      EXPECT_NE(values.at(2 * job), c.lost.front().first) << "job " << job;
    EXPECT_NE(run.out.find(record("rcv_c=", 2)), std::string::npos);
    EXPECT_EQ(lost_members(bed.fort1()), c.lost) << bed.fort1();
    EXPECT_EQ(late_results(bed.fort1()), c.late) << bed.fort1();
    EXPECT_EQ(bed.fort1().find("ERROR"), std::string::npos) << bed.fort1();
    EXPECT_EQ(jobs_logged(bed.workers()), c.logged);
    const int members = std::stoi(c.args[1]);
    EXPECT_NE(run.out.find(work_test::kill_notice(members - 1)), std::string::npos);
    EXPECT_TRUE(bed.no_worker_left());
  }
}

struct GiveUpCase {
  const char* what;
  Env env;
  std::vector<std::string> args;
  std::vector<int> lost_jobs;  // the job of each LOST record, in order
  std::string last_record;     // the last record on standard output
};

// A job that takes every worker down with it, and a queue left without
// members, end the run with an error instead of a hang.
TEST(LostMember, QueueGivesUp) {
  const std::vector<GiveUpCase> cases = {
      {"one job kills every member that takes it",
       {{"WORKTEST_DIE_JOB", "2"}},
       {"queue", "4", "6", "5"},
       {2, 2, 2},
       record("ERROR x_cque_c: job lost with its worker 3 times, job=", 2)},
      {"every member ends",
       {{"WORKTEST_DIE_JOB", "*"}},
       {"queue", "2", "4", "5"},
       {1, 2},
       record("ERROR x_cque_c: no member left, jobs without result=", 4)},
  };
  for (const GiveUpCase& c : cases) {
    SCOPED_TRACE(c.what);
    LossBed bed(c.env, false);
    ASSERT_TRUE(bed.vm.ok()) << bed.vm.error();
    const RunResult run = bed.master(c.args);
    EXPECT_EQ(run.exit_status, communicate::kErrorExit) << run.out << run.err;
    EXPECT_TRUE(run.out.ends_with(c.last_record)) << run.out;
    EXPECT_EQ(run.out.find("rcv_c="), std::string::npos);
    EXPECT_EQ(run.out.find("Kill notice"), std::string::npos);
    std::vector<int> jobs = work_test::lost_jobs(bed.fort1());
    std::sort(jobs.begin(), jobs.end());  // members lost together are reported in any order
    EXPECT_EQ(jobs, c.lost_jobs) << bed.fort1();
    EXPECT_TRUE(bed.no_worker_left());
  }
}

struct ExchangeCase {
  const char* what;
  Env env;
  std::vector<std::string> args;
  std::string fort1_end;  // the last record of the master's fort.1; empty: a normal end
};

// The exchanges that wait for every member stop when one is lost before it
// answered, and take no notice of one lost after its answer.
TEST(LostMember, GroupExchangesStopWhenAnAnswerCanNeverCome) {
  const std::vector<ExchangeCase> cases = {
      {"x_rdat_c: a member ends before its result",
       {{"WORKTEST_DIE_JOB", "2"}},
       {"gather", "3", "5", "0,2", "300,2", "0,2"},
       record("ERROR x_rdat_c: member lost before its result, who=", 1)},
      {"x_riflg_c: a member ends when called",
       {{"WORKTEST_SCRIPT", "group"}, {"WORKTEST_DIE_ROLL", "1"}},
       {"group", "3"},
       record("ERROR x_riflg_c: member lost before its reply, who=", 1)},
      {"x_rdat_c: a member ends after its result",
       {{"WORKTEST_END_AFTER_JOB", "1"}},
       {"gather", "3", "5", "0,2", "800,2", "800,2"},
       ""},
  };
  for (const ExchangeCase& c : cases) {
    SCOPED_TRACE(c.what);
    LossBed bed(c.env, false);
    ASSERT_TRUE(bed.vm.ok()) << bed.vm.error();
    const RunResult run = bed.master(c.args);
    if (c.fort1_end.empty()) {
      EXPECT_EQ(run.exit_status, 0) << run.out << run.err << bed.fort1();
      const std::map<int, double> values = r8_frm_c_records(run.out);
      ASSERT_EQ(values.size(), 6u) << run.out;
      for (int k = 0; k < 3; ++k) EXPECT_EQ(values.at(2 * k + 1), k + 1);
      EXPECT_EQ(bed.fort1().find("ERROR"), std::string::npos) << bed.fort1();
    } else {
      EXPECT_EQ(run.exit_status, communicate::kErrorExit) << run.out << run.err;
      EXPECT_TRUE(bed.fort1().ends_with(c.fort1_end)) << bed.fort1();
    }
    EXPECT_TRUE(bed.no_worker_left());
  }
}

}  // namespace
