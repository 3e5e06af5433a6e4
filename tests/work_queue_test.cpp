// The job queue and the stop notice, and the worker side's refusals, against
// real worktest_worker tasks on a private virtual machine, driven by the
// worktest_master program.
#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "communicate/communicate.h"
#include "tests/work_support.h"

namespace {

using test_support::RunResult;
using work_test::record;

// A bed whose worktest_worker tasks run the jobs script.
struct QueueBed : work_test::WorkerBed {
  QueueBed() : WorkerBed("workq", {{"WORKTEST_SCRIPT", "jobs"}}) {}
};

using work_test::jobs_logged;
using work_test::kill_notices;
using work_test::r8_frm_c_records;

// Three members, seven jobs, two values per result, and job delays (in units
// of 150 ms) that make the results arrive as members 1, 2, 1, 0 while jobs
// remain and 2, 0, 1 in the collection.
TEST(JobQueue, FilesResultsArrivingOutOfOrderUnderTheirJobs) {
  QueueBed bed;
  ASSERT_TRUE(bed.vm.ok()) << bed.vm.error();
  const int unit = 150;
  const std::vector<int> delay_units = {4, 1, 2, 2, 3, 4, 2};  // jobs 1 .. 7
  std::vector<std::string> args = {"queue", "3", "7", "20"};
  for (int d : delay_units) args.push_back(std::to_string(d * unit) + ",2");
  const RunResult run = bed.master(args);
  ASSERT_EQ(run.exit_status, 0) << run.out << run.err;

  // Job m's result: its id and the member that computed it, at 2m-1 and 2m.
  const std::vector<int> member_of_job = {0, 1, 2, 1, 2, 1, 0};
  std::map<int, double> expected;
  for (int m = 1; m <= 7; ++m) {
    expected[2 * m - 1] = m;
    expected[2 * m] = member_of_job[static_cast<std::size_t>(m - 1)];
  }
  expected[15] = expected[16] = 0.0;  // nothing beyond the population
  EXPECT_EQ(r8_frm_c_records(run.out), expected);
  // The last result came from member 1 (job 6).
  EXPECT_NE(run.out.find(record("rcv_c=", 2) + record("who=", 1)), std::string::npos);
  EXPECT_TRUE(run.out.ends_with(kill_notices(3))) << run.out;
  EXPECT_EQ(jobs_logged(bed.workers()), 7);
}

TEST(JobQueue, GivesEveryJobOnceWhateverTheOrderOfTheAnswers) {
  QueueBed bed;
  ASSERT_TRUE(bed.vm.ok()) << bed.vm.error();
  const int jobs = 40;
  std::vector<std::string> args = {"queue", "4", std::to_string(jobs), "5"};
  for (int m = 1; m <= jobs; ++m) args.push_back(std::to_string((m * 37) % 60) + ",3");
  const RunResult run = bed.master(args);
  ASSERT_EQ(run.exit_status, 0) << run.out << run.err;
  const std::map<int, double> values = r8_frm_c_records(run.out);
  ASSERT_EQ(values.size(), static_cast<std::size_t>(3 * jobs + 2));
  std::map<int, int> jobs_per_member;
  for (int m = 1; m <= jobs; ++m) {
    EXPECT_EQ(values.at(3 * m - 2), m);
    EXPECT_EQ(values.at(3 * m), m * 1000.0 + 3);
    ++jobs_per_member[static_cast<int>(values.at(3 * m - 1))];
  }
  EXPECT_EQ(jobs_per_member.size(), 4u);
  EXPECT_NE(run.out.find(record("rcv_c=", 3)), std::string::npos);
  EXPECT_EQ(jobs_logged(bed.workers()), jobs);
}

// Populations smaller than the group: only the population's jobs go out,
// and the queue collects exactly those.
TEST(JobQueue, HandsOutNoJobBeyondThePopulation) {
  for (const int ipsz : {0, 2, 4, 5}) {
    SCOPED_TRACE("ipsz " + std::to_string(ipsz));
    QueueBed bed;
    ASSERT_TRUE(bed.vm.ok()) << bed.vm.error();
    const RunResult run = bed.master({"queue", "5", std::to_string(ipsz), "5"});
    ASSERT_EQ(run.exit_status, 0) << run.out << run.err;
    // Job m goes to member m-1; the two positions after the population stay zero.
    std::map<int, double> expected;
    for (int m = 1; m <= ipsz; ++m) {
      expected[2 * m - 1] = m;
      expected[2 * m] = m - 1;
    }
    expected[2 * ipsz + 1] = expected[2 * ipsz + 2] = 0.0;
    EXPECT_EQ(r8_frm_c_records(run.out), expected);
    EXPECT_NE(run.out.find(record("rcv_c=", ipsz == 0 ? 0 : 2)), std::string::npos);
    EXPECT_TRUE(run.out.ends_with(kill_notices(5))) << run.out;
    // Every worker has read its stop notice.
    ASSERT_TRUE(work_test::wait_for(
        [&] { return work_test::files_all_contain(bed.workers(), 5, " stop notice\n"); }));
    EXPECT_EQ(jobs_logged(bed.workers()), ipsz);
  }
}

struct RefusalCase {
  const char* what;
  std::vector<std::string> args;  // worktest_master arguments
  std::string last_record;        // the last record on standard output
};

// Every refusal and trap stops the master non-zero, after killing the
// workers, and writes nothing out of bounds.
TEST(JobQueue, RefusesWhatDoesNotFitAndKillsTheWorkers) {
  const std::vector<RefusalCase> cases = {
      {"foreign member index while jobs remain",
       {"queue", "3", "7", "5", "400,2", "0,2,7", "400,2"},
       record("ERROR TRAP1: x_cdat_c k=", 8)},
      {"negative member index while jobs remain",
       {"queue", "2", "5", "5", "0,2,-1", "400,2"},
       record("ERROR TRAP1: x_cdat_c k=", 6)},
      {"another member's index in the collection",
       {"queue", "3", "3", "5", "0,2,1", "400,2", "400,2"},
       record("ERROR TRAP2: x_cdat_c who=", 1)},
      {"result slot past the buffer",
       {"queue", "3", "3", "5", "400,2", "400,2", "0,4000"},
       record("ERROR x_cque_c: result does not fit r8_frm_c, rcv_c=", 4000)},
      {"more than 100 jobs",
       {"queue", "3", "101", "5"},
       record("ERROR x_cque_c: job count outside 0..100, ipsz=", 101)},
      {"negative job count",
       {"queue", "3", "-1", "5"},
       record("ERROR x_cque_c: job count outside 0..100, ipsz=", -1)},
      {"job slices past the buffer",
       {"queue", "3", "51", "200"},
       record("ERROR x_cque_c: job slices pass 10000 positions, snd_c=", 200)},
      // No result could ever arrive: the queue would wait for ever.
      {"jobs for a group without members",
       {"queue", "0", "3", "5"},
       record("ERROR x_cque_c: no member to take the jobs, nproc=", 0)},
  };
  for (const RefusalCase& c : cases) {
    SCOPED_TRACE(c.what);
    QueueBed bed;
    ASSERT_TRUE(bed.vm.ok()) << bed.vm.error();
    const RunResult run = bed.master(c.args);
    EXPECT_EQ(run.exit_status, communicate::kErrorExit) << run.out << run.err;
    EXPECT_TRUE(run.out.ends_with(c.last_record)) << run.out;
    EXPECT_EQ(run.out.find("Kill notice"), std::string::npos);
    EXPECT_TRUE(bed.no_worker_left());
  }
}

struct WorkerRefusal {
  const char* what;
  std::vector<std::string> args;  // worktest_master arguments
  std::string last_record;        // the last record of the worker's task output file
};

TEST(WorkerSide, RefusesCountsOutsideTheBuffer) {
  const std::vector<WorkerRefusal> cases = {
      {"received count above 10000",
       {"send", "1", "1", "10001"},
       record("ERROR x_rdat_p: received count outside 0..10000, rcv_p=", 10001)},
      {"negative received count",
       {"send", "1", "1", "-3"},
       record("ERROR x_rdat_p: received count outside 0..10000, rcv_p=", -3)},
      {"snd_p above 10000",
       {"job", "1", "0,10001"},
       record("ERROR x_sdat_p: snd_p outside 0..10000, snd_p=", 10001)},
  };
  for (const WorkerRefusal& c : cases) {
    SCOPED_TRACE(c.what);
    QueueBed bed;
    ASSERT_TRUE(bed.vm.ok()) << bed.vm.error();
    const RunResult run = bed.master(c.args);
    ASSERT_EQ(run.exit_status, 0) << run.out << run.err;
    std::string text;
    ASSERT_TRUE(work_test::wait_for([&] {
      text = bed.first_worker();
      return text.ends_with(c.last_record);
    })) << text;
    EXPECT_TRUE(bed.no_worker_left());
  }
}

// A master that ends without the stop notice no longer leaves its worker
// waiting: the worker takes the job it was sent, returns the result, and
// ends when it learns that its parent is gone. While it computes it is
// still seen, so the check used above does see a task that is left.
TEST(WorkerSide, WorkerWhoseMasterEndsWithoutStopNoticeEnds) {
  QueueBed bed;
  ASSERT_TRUE(bed.vm.ok()) << bed.vm.error();
  const RunResult run = bed.master({"job", "1", "1500,2"});
  ASSERT_EQ(run.exit_status, 0) << run.out << run.err;
  ASSERT_TRUE(
      work_test::wait_for([&] { return bed.first_worker().find(" job=") != std::string::npos; }));
  EXPECT_EQ(
      work_test::tasks_of(test_support::bin_dir() + "/worktest_worker", bed.vm.tmp_dir()).size(),
      1u);
  std::string text;
  ASSERT_TRUE(work_test::wait_for([&] {
    text = bed.first_worker();
    return text.find(" ERROR x_rdat_p: parent task ended, mptid=") != std::string::npos;
  })) << text;
  EXPECT_TRUE(bed.no_worker_left());
}

}  // namespace
