// baseline_master: the bare PVM farm that the master is measured against.
//
// Written directly on libpvm3, it does the master's message work and nothing
// else: it starts 5 baseline_worker tasks on its own host (one pvm_spawn with
// PvmTaskHost per task), multicasts the task-id list (count, 5 ids) with
// tag 1, runs the same one-outstanding-job-per-worker queue over 100 jobs
// (job: int 1, int 20, 20 doubles; result: int member, int 20, 20 doubles;
// tag 2), and sends every worker the stop notice (int 0, tag 2). It reads no
// file and prints no record. Like the master it does not leave the virtual
// machine explicitly; its connection ends with the process.
//
// On standard error it writes one line of phase times in microseconds:
//   phases spawn=<us> tids=<us> queue=<us> stop=<us> total=<us> [warm=<us>]
// (spawn includes joining the virtual machine; the queue includes waiting for
// the freshly spawned workers to start). With the argument "warm" it runs the
// queue a second time before the stop notices, with workers that are up, and
// reports that pass as warm (not counted in total). With BENCH_ROUTE=direct in
// the environment it asks PVM for direct task-to-task links first.
// BENCH_WORKER=<program> spawns that worker program instead of
// baseline_worker (any worker that keeps the same messages, such as the
// benchmark torvo), to tell the worker's share of the cost from the master's.
// Exit status 0; 1 when a worker cannot be started; 2 when a result is wrong.
#include <pvm3.h>

#include <array>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "bench/population.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr int kTidTag = 1;
constexpr int kJobTag = 2;
constexpr int kValues = bench::kPopulation * bench::kValuesPerJob;

struct Farm {
  std::array<int, bench::kWorkers> tids{};
  std::array<int, bench::kPopulation + 1> jobline{};  // 1-based: member holding job, -1, -2
  std::array<double, kValues> jobs{};                 // job m at (m-1)*20
  std::array<double, kValues> results{};
  std::array<double, bench::kValuesPerJob> in{};
};

Farm farm;

double micros(Clock::time_point a, Clock::time_point b) {
  return std::chrono::duration<double, std::micro>(b - a).count();
}

// Starts the workers on the own host; ends the process when one fails.
void spawn_workers() {
  const int mytid = pvm_mytid();
  int nhost = 0;
  int narch = 0;
  pvmhostinfo* hosts = nullptr;
  pvm_config(&nhost, &narch, &hosts);
  const int myhost = pvm_tidtohost(mytid);
  char* where = nullptr;
  for (int h = 0; h < nhost; ++h) {
    if (hosts[h].hi_tid == myhost) where = hosts[h].hi_name;
  }
  std::array<char, 64> program{};
  const char* name = std::getenv("BENCH_WORKER");
  std::snprintf(program.data(), program.size(), "%s", name != nullptr ? name : "baseline_worker");
  for (int i = 0; i < bench::kWorkers; ++i) {
    const int n = pvm_spawn(program.data(), nullptr, PvmTaskHost, where, 1,
                            &farm.tids[static_cast<std::size_t>(i)]);
    if (n != 1) {
      std::fprintf(stderr, "baseline_master: spawn %d failed (%d)\n", i,
                   farm.tids[static_cast<std::size_t>(i)]);
      for (int k = 0; k < i; ++k) pvm_kill(farm.tids[static_cast<std::size_t>(k)]);
      pvm_exit();
      std::exit(1);
    }
  }
}

void send_tids() {
  int count = bench::kWorkers;
  pvm_initsend(PvmDataDefault);
  pvm_pkint(&count, 1, 1);
  pvm_pkint(farm.tids.data(), count, 1);
  pvm_mcast(farm.tids.data(), count, kTidTag);
}

void send_job(int job, int member) {
  int go = 1;
  int count = bench::kValuesPerJob;
  pvm_initsend(PvmDataDefault);
  pvm_pkint(&go, 1, 1);
  pvm_pkint(&count, 1, 1);
  pvm_pkdouble(&farm.jobs[static_cast<std::size_t>((job - 1) * count)], count, 1);
  pvm_send(farm.tids[static_cast<std::size_t>(member)], kJobTag);
  farm.jobline[static_cast<std::size_t>(job)] = member;
}

// Takes one result, files it under the job of its member; returns the member.
int take_result() {
  pvm_recv(-1, kJobTag);
  int who = -1;
  int count = 0;
  pvm_upkint(&who, 1, 1);
  pvm_upkint(&count, 1, 1);
  if (count != bench::kValuesPerJob) {
    std::fprintf(stderr, "baseline_master: result count %d\n", count);
    std::exit(2);
  }
  int job = 0;
  for (int k = 1; k <= bench::kPopulation; ++k) {
    if (farm.jobline[static_cast<std::size_t>(k)] == who) {
      job = k;
      break;
    }
  }
  if (job == 0) {
    std::fprintf(stderr, "baseline_master: result from member %d holds no job\n", who);
    std::exit(2);
  }
  farm.jobline[static_cast<std::size_t>(job)] = -2;
  pvm_upkdouble(&farm.results[static_cast<std::size_t>((job - 1) * count)], count, 1);
  return who;
}

void run_queue() {
  farm.jobline.fill(-1);
  int jobindex = 0;
  for (int i = 0; i < bench::kWorkers; ++i) send_job(++jobindex, i);
  while (jobindex < bench::kPopulation) {
    const int who = take_result();
    send_job(++jobindex, who);
  }
  for (int i = 0; i < bench::kWorkers; ++i) take_result();
}

void send_stop() {
  int stop = 0;
  for (int i = 0; i < bench::kWorkers; ++i) {
    pvm_initsend(PvmDataDefault);
    pvm_pkint(&stop, 1, 1);
    pvm_send(farm.tids[static_cast<std::size_t>(i)], kJobTag);
  }
}

}  // namespace

int main(int argc, char** argv) {
  const bool warm = argc > 1 && std::strcmp(argv[1], "warm") == 0;
  const auto t0 = Clock::now();
  const char* route = std::getenv("BENCH_ROUTE");
  if (route != nullptr && std::strcmp(route, "direct") == 0) pvm_setopt(PvmRoute, PvmRouteDirect);
  for (int k = 1; k <= kValues; ++k)
    farm.jobs[static_cast<std::size_t>(k - 1)] = bench::plistin_value(k);

  spawn_workers();
  const auto t1 = Clock::now();
  send_tids();
  const auto t2 = Clock::now();
  run_queue();
  const auto t3 = Clock::now();
  if (warm) run_queue();
  const auto t3w = Clock::now();
  send_stop();
  const auto t4 = Clock::now();

  if (farm.results != farm.jobs) {
    std::fprintf(stderr, "baseline_master: results differ from the jobs\n");
    return 2;
  }
  std::fprintf(stderr, "phases spawn=%.1f tids=%.1f queue=%.1f stop=%.1f total=%.1f",
               micros(t0, t1), micros(t1, t2), micros(t2, t3), micros(t3w, t4),
               micros(t0, t4) - micros(t3, t3w));
  if (warm) std::fprintf(stderr, " warm=%.1f", micros(t3, t3w));
  std::fprintf(stderr, "\n");
  return 0;
}
