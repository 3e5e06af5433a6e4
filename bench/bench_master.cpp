// bench_master: the master's run, step by step with a clock, on the
// communicate library. Two modes:
//
//   bench_master phases [warm]
//     Does what the master does for a population of 100 (the same values as
//     the benchmark's input files) and times each step: spawning (x_sp_c,
//     including joining the virtual machine), the task-id list (x_stids), the
//     job queue (x_cque_c; it includes waiting for the fresh workers to
//     start), the stop notices (x_skflg_c) and the printing of the driver's
//     records (input echo, 2000 "plistin(" and 2000 "plistout(" records on
//     standard output). With "warm" the queue runs a second time before the
//     stop notices, with workers that are up, reported as warm and not
//     counted in total. Standard error gets one line, in microseconds:
//       phases spawn=.. tids=.. queue=.. stop=.. print=.. total=.. records=N [warm=..]
//
//   bench_master balance UNIT_US SKEW DIST
//     Load balance. Job m's first value is its work w(m) in units (DIST
//     "varied": 2 + (7m mod 19), 2..20 units; "fewlong": 4 units, every 20th
//     job 40). The workers (bench torvo) sleep w * UNIT_US * (1 + SKEW*me)
//     microseconds per job. Runs the 100 jobs through the job queue
//     (x_cque_c), then as 20 rounds of one slice per member (x_sdat_c then
//     x_rdat_c), after one untimed round of empty jobs that waits for the
//     workers to be up, and reports the makespans with the ideal one,
//     max(total work / total speed, longest job), member k's speed being
//     1 / (1 + SKEW*k), and the makespan of a queue without overhead that
//     hands the jobs out in the same order (greedy):
//       balance ideal=.. greedy=.. queue=.. slices=.. (microseconds)
//
// With BENCH_ROUTE=direct in the environment the master asks PVM for direct
// task-to-task links before the first message (this is the one direct PVM
// call here, to compare the routes). Exit status 0; 2 when a result landed
// in the wrong slot; the library's own stops otherwise.
#include <pvm3.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "bench/population.h"
#include "communicate/communicate.h"
#include "driver/driver.h"
#include "records/channels.h"
#include "workers/torvo_contract.h"

namespace {

using namespace communicate;
using Clock = std::chrono::steady_clock;
using torvo::kExec;
using torvo::kJobTag;
using torvo::kTidsTag;
constexpr int kJobValues = bench::kValuesPerJob;
constexpr int kValues = bench::kPopulation * kJobValues;

double micros(Clock::time_point a, Clock::time_point b) {
  return std::chrono::duration<double, std::micro>(b - a).count();
}

void use_direct_route_if_asked() {
  const char* route = std::getenv("BENCH_ROUTE");
  if (route != nullptr && std::strcmp(route, "direct") == 0) pvm_setopt(PvmRoute, PvmRouteDirect);
}

// The driver's front end, as the master runs it: reads seq_d.in and seq_t.in
// of the working directory, prints the input echo and the parameter list.
// Returns the number of records printed.
int print_input_echo(driver::DriverState& d) {
  driver::assemble_population(d);
  driver::print_plistin(d);
  // Two tables, "ict=" and two index lines per cycle (one more cycle than
  // individuals), the last index line again, "ipopsize=", the parameter list.
  return 2 + 3 * (d.ipopsize + 1) + 1 + 1 + d.nin * d.ipopsize;
}

int run_phases(bool warm) {
  const auto t0 = Clock::now();
  use_direct_route_if_asked();
  State& s = state();
  driver::DriverState& d = driver::state();
  int records_printed = print_input_echo(d);
  const auto t1 = Clock::now();

  s.snd_c = d.nin;
  s.r8_frm_p.values = d.plistin.values;
  x_sp_c(kExec, bench::kWorkers, 0, 1);
  const auto t2 = Clock::now();
  x_stids(kTidsTag, kExec, kExec);
  const auto t3 = Clock::now();
  x_cque_c(kJobTag, kExec, bench::kPopulation);
  const auto t4 = Clock::now();
  if (warm) x_cque_c(kJobTag, kExec, bench::kPopulation);
  const auto t4w = Clock::now();
  x_skflg_c(kJobTag, kExec);
  const auto t5 = Clock::now();
  d.nout = s.rcv_c;
  d.plistout.values = s.r8_frm_c.values;
  driver::print_plistout(d);
  records_printed += d.nout * d.ipopsize;
  const auto t6 = Clock::now();

  for (int k = 1; k <= kValues; ++k) {
    if (s.r8_frm_c[k] != s.r8_frm_p[k]) {
      std::fprintf(stderr, "bench_master: result position %d holds %g, not %g\n", k, s.r8_frm_c[k],
                   s.r8_frm_p[k]);
      return 2;
    }
  }
  std::fprintf(stderr,
               "phases spawn=%.1f tids=%.1f queue=%.1f stop=%.1f print=%.1f total=%.1f records=%d",
               micros(t1, t2), micros(t2, t3), micros(t3, t4), micros(t4w, t5),
               micros(t0, t1) + micros(t5, t6), micros(t0, t6) - micros(t4, t4w), records_printed);
  if (warm) std::fprintf(stderr, " warm=%.1f", micros(t4, t4w));
  std::fprintf(stderr, "\n");
  return 0;
}

// Work of job m (1..100) in units.
double job_work(int m, const char* dist) {
  if (std::strcmp(dist, "fewlong") == 0) return m % 20 == 0 ? 40.0 : 4.0;
  return 2.0 + (7 * m) % 19;
}

int run_balance(double unit_us, double skew, const char* dist) {
  use_direct_route_if_asked();
  // The workers learn the delay from variables exported through PVM_EXPORT.
  ::setenv("BENCH_TORVO_DELAY_US", std::to_string(unit_us).c_str(), 1);
  ::setenv("BENCH_TORVO_MEMBER_SKEW", std::to_string(skew).c_str(), 1);
  std::string exported = "BENCH_TORVO_DELAY_US:BENCH_TORVO_MEMBER_SKEW";
  if (const char* old = std::getenv("PVM_EXPORT"); old != nullptr && *old != '\0') {
    exported.append(":").append(old);
  }
  ::setenv("PVM_EXPORT", exported.c_str(), 1);

  static std::array<double, kValues> jobs{};
  double work = 0.0;
  double longest = 0.0;
  for (int m = 1; m <= bench::kPopulation; ++m) {
    const double w = job_work(m, dist);
    work += w;
    longest = std::max(longest, w);
    for (int v = 0; v < kJobValues; ++v) {
      jobs[static_cast<std::size_t>((m - 1) * kJobValues + v)] = v == 0 ? w : m + 0.001 * v;
    }
  }
  double speed = 0.0;
  for (int k = 0; k < bench::kWorkers; ++k) speed += 1.0 / (1.0 + skew * k);
  const double ideal_us = std::max(work / speed, longest) * unit_us;
  // What a job queue without any overhead would reach with these jobs in
  // this order: every job goes to the member that is free first.
  std::array<double, bench::kWorkers> free_at{};
  for (int m = 1; m <= bench::kPopulation; ++m) {
    std::size_t k = 0;
    for (std::size_t i = 1; i < free_at.size(); ++i) {
      if (free_at[i] < free_at[k]) k = i;
    }
    free_at[k] += job_work(m, dist) * (1.0 + skew * static_cast<double>(k));
  }
  const double greedy_us = *std::max_element(free_at.begin(), free_at.end()) * unit_us;

  State& s = state();
  s.snd_c = kJobValues;
  x_sp_c(kExec, bench::kWorkers, 0, 1);
  x_stids(kTidsTag, kExec, kExec);
  // One round of empty slices first, so that no makespan includes the
  // start-up of the freshly spawned workers.
  for (int k = 1; k <= bench::kWorkers * kJobValues; ++k) s.r8_frm_p[k] = 0.0;
  x_sdat_c(kJobTag, kExec, 1);
  x_rdat_c(kJobTag, kExec);
  for (int k = 1; k <= kValues; ++k) s.r8_frm_p[k] = jobs[static_cast<std::size_t>(k - 1)];

  const auto q0 = Clock::now();
  x_cque_c(kJobTag, kExec, bench::kPopulation);
  const auto q1 = Clock::now();
  for (int m = 1; m <= bench::kPopulation; ++m) {
    const int k = (m - 1) * kJobValues + 1;
    if (s.r8_frm_c[k] != jobs[static_cast<std::size_t>(k - 1)]) {
      std::fprintf(stderr, "bench_master: queue result of job %d misplaced\n", m);
      return 2;
    }
  }

  constexpr int rounds = bench::kPopulation / bench::kWorkers;
  const auto r0 = Clock::now();
  for (int r = 0; r < rounds; ++r) {
    const int first = r * bench::kWorkers * kJobValues;  // 0-based start of the round's jobs
    for (int k = 1; k <= bench::kWorkers * kJobValues; ++k) {
      s.r8_frm_p[k] = jobs[static_cast<std::size_t>(first + k - 1)];
    }
    x_sdat_c(kJobTag, kExec, 1);
    x_rdat_c(kJobTag, kExec);
    for (int k = 1; k <= bench::kWorkers * kJobValues; ++k) {
      if (s.r8_frm_c[k] != s.r8_frm_p[k]) {
        std::fprintf(stderr, "bench_master: slice result at %d of round %d misplaced\n", k, r);
        return 2;
      }
    }
  }
  const auto r1 = Clock::now();
  x_skflg_c(kJobTag, kExec);
  std::fprintf(stderr, "balance ideal=%.1f greedy=%.1f queue=%.1f slices=%.1f\n", ideal_us,
               greedy_us, micros(q0, q1), micros(r0, r1));
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc >= 2 && std::strcmp(argv[1], "phases") == 0) {
    return run_phases(argc >= 3 && std::strcmp(argv[2], "warm") == 0);
  }
  if (argc >= 5 && std::strcmp(argv[1], "balance") == 0) {
    return run_balance(std::strtod(argv[2], nullptr), std::strtod(argv[3], nullptr), argv[4]);
  }
  std::fprintf(stderr, "usage: bench_master phases [warm] | balance UNIT_US SKEW varied|fewlong\n");
  return 64;
}
