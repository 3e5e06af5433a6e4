// The master program end to end with lost workers and a lost master, on a
// private virtual machine: a worker that ends on one individual (bin/lossy's
// torvo), an individual that takes every worker down with it, torvo tasks
// killed from outside in the middle of a run, and the master killed in the
// middle of a run. A run that loses no result prints exactly what an
// undisturbed run of the same population prints.
#include <gtest/gtest.h>

#include <signal.h>

#include <chrono>
#include <functional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "communicate/communicate.h"
#include "tests/work_support.h"

namespace {

using test_support::RunResult;
using test_support::TempDir;
using work_test::record;
using work_test::Env;

constexpr int kWorkers = 5;

// Temperature table entry i (1..10); individual p (1..10) has entry p in
// zone 1, so the first value of its job names it.
double temperature(int i) {
  return 200.0 + 50.0 * i;
}

// seq_d.in and seq_t.in of `n` individuals.
void write_population(const TempDir& dir, int n) {
  std::string d = "10\n";
  std::string t = "10\n";
  for (int i = 1; i <= 10; ++i) {
    d += std::to_string(0.25 * i + 0.5) + " ";
    t += std::to_string(temperature(i)) + " ";
  }
  d += "\n";
  t += "\n";
  for (int p = 1; p <= n; ++p) {
    for (int z = 1; z <= 10; ++z) {
      d += std::to_string((p * 3 + z) % 10 + 1) + " ";
      t += std::to_string((p + z - 2) % 10 + 1) + " ";
    }
    d += "\n";
    t += "\n";
  }
  test_support::write_file(dir.file("seq_d.in"), d);
  test_support::write_file(dir.file("seq_t.in"), t);
}

// One master run directory on its own virtual machine, whose torvo comes
// from `ep_dir` and whose tasks see `env` and write into out/ (TORVO_OUT).
struct MasterBed : work_test::WorkerBed {
  MasterBed(const std::string& ep_dir, Env extra)
      : WorkerBed("lossmaster", std::move(extra), {}, ep_dir, "TORVO_OUT") {}

  RunResult run(int individuals) {
    write_population(dir, individuals);
    return run_master(std::chrono::seconds(40));
  }

  std::vector<long> tasks(const std::string& program) const {
    return work_test::tasks_of(test_support::bin_dir() + "/" + program, vm.tmp_dir());
  }
};

// What the master prints for `individuals` when nothing is lost.
std::string undisturbed_output(int individuals) {
  MasterBed bed(test_support::bin_dir(), {});
  if (!bed.vm.ok()) return "no virtual machine: " + bed.vm.error();
  const RunResult run = bed.run(individuals);
  return run.exit_status == 0 ? run.out : "undisturbed run failed: " + run.err;
}

using work_test::lost_jobs;

std::string lossy_dir() {
  return test_support::bin_dir() + "/lossy";
}

// Env of bin/lossy's torvo: end on individual `p`, only once when `mark` is given.
Env die_on(int p, const std::string& mark) {
  Env env = {{"TORVO_DIE_T1", std::to_string(temperature(p))}};
  if (!mark.empty()) env.emplace_back("TORVO_DIE_MARK", mark);
  return env;
}

// A worker lost on one individual costs the run nothing: the individual is
// computed again, wherever in the run the loss falls.
TEST(LostWorker, RunPrintsWhatAnUndisturbedRunPrints) {
  constexpr int kIndividuals = 10;
  const std::string expected = undisturbed_output(kIndividuals);
  ASSERT_NE(expected.find(" plistout("), std::string::npos) << expected;
  for (const int individual : {2, 8, 10}) {  // first round, refill, the last job
    SCOPED_TRACE("individual " + std::to_string(individual));
    TempDir marks("lossmark");
    MasterBed bed(lossy_dir(), die_on(individual, marks.file("died")));
    ASSERT_TRUE(bed.vm.ok()) << bed.vm.error();
    const RunResult run = bed.run(kIndividuals);
    EXPECT_EQ(run.exit_status, 0) << run.err << bed.fort1();
    EXPECT_EQ(run.out, expected);
    EXPECT_EQ(lost_jobs(bed.fort1()), std::vector<int>{individual}) << bed.fort1();
    EXPECT_TRUE(bed.no_task_left("torvo"));
  }
}

// An individual that takes down every worker it is given stops the run
// after its third loss, before it can take all five.
TEST(LostWorker, PoisonousIndividualEndsTheRunAfterThreeLosses) {
  MasterBed bed(lossy_dir(), die_on(3, ""));
  ASSERT_TRUE(bed.vm.ok()) << bed.vm.error();
  const RunResult run = bed.run(10);
  EXPECT_EQ(run.exit_status, communicate::kErrorExit) << run.err;
  EXPECT_TRUE(
      run.out.ends_with(record("ERROR x_cque_c: job lost with its worker 3 times, job=", 3)))
      << run.out;
  EXPECT_EQ(run.out.find("plistout("), std::string::npos);
  EXPECT_EQ(run.out.find("Kill notice"), std::string::npos);
  EXPECT_EQ(lost_jobs(bed.fort1()), (std::vector<int>{3, 3, 3})) << bed.fort1();
  EXPECT_TRUE(bed.no_task_left("torvo"));
}

// Runs the master of `bed` on a thread, and once its workers have worked
// for `after`, sends SIGKILL to the tasks `victims` picks from the torvo
// tasks and the master.
RunResult run_and_kill(
    MasterBed& bed, int individuals, std::chrono::milliseconds after,
    const std::function<std::vector<long>(const std::vector<long>& torvo,
                                          const std::vector<long>& master)>& victims) {
  RunResult result;
  std::thread master([&] { result = bed.run(individuals); });
  const bool started = work_test::wait_for([&] { return bed.tasks("torvo").size() == kWorkers; });
  if (started) {
    std::this_thread::sleep_for(after);
    for (long pid : victims(bed.tasks("torvo"), bed.tasks("master")))
      ::kill(static_cast<pid_t>(pid), SIGKILL);
  }
  master.join();
  EXPECT_TRUE(started) << "the workers did not start";
  return result;
}

// Workers of the kill tests spend this long on each individual, so a run of
// 30 individuals lasts about 6 rounds of it.
const Env kSlowWorkers = {{"TORVO_DELAY_MS", "150"}};

TEST(KilledWorker, RunFinishesOnTheOtherWorkers) {
  constexpr int kIndividuals = 30;
  const std::string expected = undisturbed_output(kIndividuals);
  MasterBed bed(test_support::bin_dir(), kSlowWorkers);
  ASSERT_TRUE(bed.vm.ok()) << bed.vm.error();
  const RunResult run = run_and_kill(bed, kIndividuals, std::chrono::milliseconds(300),
                                     [](const std::vector<long>& torvo, const std::vector<long>&) {
                                       return std::vector<long>{torvo.front()};
                                     });
  EXPECT_EQ(run.exit_status, 0) << run.err << bed.fort1();
  EXPECT_EQ(run.out, expected);
  EXPECT_EQ(lost_jobs(bed.fort1()).size(), 1u) << bed.fort1();
  EXPECT_TRUE(bed.no_task_left("torvo"));
}

TEST(KilledWorker, EveryWorkerKilledEndsTheRunWithAnError) {
  MasterBed bed(test_support::bin_dir(), kSlowWorkers);
  ASSERT_TRUE(bed.vm.ok()) << bed.vm.error();
  const RunResult run =
      run_and_kill(bed, 30, std::chrono::milliseconds(300),
                   [](const std::vector<long>& torvo, const std::vector<long>&) { return torvo; });
  EXPECT_EQ(run.exit_status, communicate::kErrorExit) << run.err;
  const auto lines = work_test::lines(run.out);
  ASSERT_FALSE(lines.empty());
  EXPECT_TRUE(lines.back().starts_with(" ERROR x_cque_c: no member left, jobs without result="))
      << run.out;
  EXPECT_EQ(run.out.find("plistout("), std::string::npos);
  EXPECT_EQ(lost_jobs(bed.fort1()).size(), static_cast<std::size_t>(kWorkers)) << bed.fort1();
}

// A killed master leaves no worker behind: each one ends once the job in
// hand is done, with its record.
TEST(KilledMaster, WorkersEndSoonAfter) {
  MasterBed bed(test_support::bin_dir(), {{"TORVO_DELAY_MS", "300"}});
  ASSERT_TRUE(bed.vm.ok()) << bed.vm.error();
  const RunResult run = run_and_kill(
      bed, 30, std::chrono::milliseconds(400),
      [](const std::vector<long>&, const std::vector<long>& master) { return master; });
  EXPECT_EQ(run.exit_status, 128 + SIGKILL) << run.out;
  EXPECT_TRUE(work_test::wait_for([&] { return bed.tasks("torvo").empty(); },
                                  std::chrono::milliseconds(5000)));
  const auto files = work_test::task_files(bed.dir.file("out"), "torvo_std");
  EXPECT_EQ(files.size(), static_cast<std::size_t>(kWorkers));
  for (const auto& [name, text] : files) {
    EXPECT_NE(text.find(" ERROR x_rdat_p: parent task ended, mptid="), std::string::npos)
        << name << ":\n"
        << text;
  }
}

}  // namespace
