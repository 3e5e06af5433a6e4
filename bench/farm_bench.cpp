// farm_bench: whole-run benchmarks of the master on a private one-host
// virtual machine (or on a running one, see --running-vm).
//
// It writes seq_d.in and seq_t.in for a population of 100 into a temporary
// run directory, starts its own pvmd (hostfile "* ep=<workers> wd=<run>",
// where <workers> holds the benchmark worker "torvo", which answers without
// computing, and "baseline_worker"), and measures:
//
//   whole   the real master against the bare-PVM baseline farm
//           (baseline_master), in interleaved pairs (AB, BA, AB, ...): wall
//           time of each process from start to end, ratio per pair;
//   phases  bench_master phases (the master's steps on the library, each
//           timed) against the baseline's own phase times, and the baseline
//           master driving the library's worker (BENCH_WORKER=torvo), which
//           splits the difference into the master's and the worker's share;
//           each with a second, warm pass of the queue; interleaved;
//   route   bench_master and the baseline with PVM's default route and with
//           direct task-to-task links (BENCH_ROUTE=direct);
//   balance bench_master balance: makespan of the job queue and of rounds of
//           one slice per member against the ideal, for three job mixes.
//
// With --running-vm it starts no daemon and uses the virtual machine that
// PVM_TMP names (for instance a multi-host test bed whose ep= is the
// benchmark worker directory); the route section then compares the library
// master only, since the baseline places every worker on its own host.
//
// Every run must end with status 0 and the expected output, else farm_bench
// says so and ends with status 1. Between runs it waits until no worker of
// the previous run is left. The daemon is halted at the end.
//
// usage: farm_bench [--bin DIR] [--master PATH] [--workers DIR] [--pairs N]
//                   [--only whole,phases,route,balance] [--unit US] [--smoke]
//                   [--running-vm]
// --unit sets the length of one work unit of the load-balance jobs; a job is
// 2 to 40 units. By default the mixes run twice, with 1000 us units (jobs of
// 2 to 40 ms, where the queue's own cost per job shows) and with 5000 us
// units (10 to 200 ms, still far shorter than a real worker's job).
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "bench/bench_vm.h"
#include "bench/population.h"

namespace {

namespace fs = std::filesystem;
using Values = std::map<std::string, double>;

struct Config {
  std::string bin;       // bench_master, baseline_master
  std::string master;    // the real master
  std::string workers;   // ep= of the virtual machine
  std::string run_dir;   // working directory of every run
  int pairs = 30;        // whole-run pairs
  int phase_runs = 20;   // phase and route runs per variant
  int balance_runs = 3;  // runs per load-balance mix
  std::vector<double> units_us{1000.0, 5000.0};
  std::chrono::seconds limit{60};
  std::string only = "whole,phases,route,balance";
  bool running_vm = false;  // use the virtual machine PVM_TMP names, start none
};

Config cfg;
bool failed = false;

double median(std::vector<double> v) {
  if (v.empty()) return 0.0;
  std::sort(v.begin(), v.end());
  const std::size_t n = v.size();
  return n % 2 == 1 ? v[n / 2] : 0.5 * (v[n / 2 - 1] + v[n / 2]);
}

double min_of(const std::vector<double>& v) {
  return v.empty() ? 0.0 : *std::min_element(v.begin(), v.end());
}
double max_of(const std::vector<double>& v) {
  return v.empty() ? 0.0 : *std::max_element(v.begin(), v.end());
}

// The key=value items of the line of `text` that begins with `head`.
Values parse_line(const std::string& text, const std::string& head) {
  Values out;
  std::istringstream lines(text);
  std::string line;
  while (std::getline(lines, line)) {
    if (line.rfind(head + " ", 0) != 0) continue;
    std::istringstream items(line.substr(head.size() + 1));
    std::string item;
    while (items >> item) {
      const auto eq = item.find('=');
      if (eq != std::string::npos)
        out[item.substr(0, eq)] = std::strtod(item.c_str() + eq + 1, nullptr);
    }
  }
  return out;
}

std::size_t count_of(const std::string& text, const std::string& what) {
  std::size_t n = 0;
  for (std::size_t pos = text.find(what); pos != std::string::npos; pos = text.find(what, pos + 1))
    ++n;
  return n;
}

struct Run {
  bool ok = false;
  double ms = 0.0;  // wall time of the process
  Values values;    // its phase or balance line
};

// Runs one program in the run directory, checks its end, waits for its workers.
Run run(const std::vector<std::string>& argv, const benchvm::Env& env, const char* head) {
  const std::string out = cfg.run_dir + "/out.txt";
  const benchvm::TimedRun t = benchvm::run_timed(argv, cfg.run_dir, out, env, cfg.limit);
  Run r;
  r.ms = t.seconds * 1000.0;
  r.ok = t.exit_status == 0 && !t.timed_out;
  if (head != nullptr) {
    r.values = parse_line(t.err, head);
    r.ok = r.ok && !r.values.empty();
  }
  if (!r.ok) {
    std::printf("  FAILED: %s ended with status %d%s; stderr: %s\n", argv[0].c_str(), t.exit_status,
                t.timed_out ? " (timed out)" : "", t.err.c_str());
    failed = true;
  }
  if (!benchvm::wait_for_no_task(cfg.workers, std::chrono::milliseconds(5000))) {
    std::printf("  warning: workers of %s still running after 5 s\n", argv[0].c_str());
  }
  return r;
}

// The real master; its first run is checked for the complete report.
Run run_master(bool check) {
  Run r = run({cfg.master}, {}, nullptr);
  if (r.ok && check) {
    const std::string out = test_support::read_file(cfg.run_dir + "/out.txt").value_or("");
    const std::size_t results = count_of(out, "plistout(");
    const std::size_t kills = count_of(out, "Kill notice from proc =");
    const std::size_t expected =
        static_cast<std::size_t>(bench::kPopulation * bench::kValuesPerJob);
    if (results != expected || kills != static_cast<std::size_t>(bench::kWorkers)) {
      std::printf(
          "  FAILED: master printed %zu \"plistout(\" records (want %zu) and %zu stop lines (want "
          "%d)\n",
          results, expected, kills, bench::kWorkers);
      failed = true;
      r.ok = false;
    }
  }
  return r;
}

Run run_baseline(const benchvm::Env& env = {}) {
  return run({cfg.bin + "/baseline_master"}, env, "phases");
}
// A run with a second, warm pass of the queue; its "wall" item is the wall
// time of the process without that extra pass.
Run run_warm(const std::vector<std::string>& argv, const benchvm::Env& env) {
  Run r = run(argv, env, "phases");
  if (r.ok) r.values["wall"] = r.ms * 1000.0 - r.values["warm"];
  return r;
}
// The baseline and the library master with the warm pass.
Run run_baseline_warm(const benchvm::Env& env = {}) {
  return run_warm({cfg.bin + "/baseline_master", "warm"}, env);
}
Run run_phases_warm(const benchvm::Env& env = {}) {
  return run_warm({cfg.bin + "/bench_master", "phases", "warm"}, env);
}

bool selected(const char* section) {
  return cfg.only.find(section) != std::string::npos;
}

void whole_run() {
  std::printf("\n== Whole run: master vs bare-PVM baseline farm (%d interleaved pairs)\n",
              cfg.pairs);
  std::vector<double> a;
  std::vector<double> b;
  std::vector<double> ratio;
  std::vector<double> bq;
  for (int i = 0; i < cfg.pairs; ++i) {
    Run ra;
    Run rb;
    if (i % 2 == 0) {
      ra = run_master(i == 0);
      rb = run_baseline();
    } else {
      rb = run_baseline();
      ra = run_master(false);
    }
    if (!ra.ok || !rb.ok) return;
    a.push_back(ra.ms);
    b.push_back(rb.ms);
    ratio.push_back(ra.ms / rb.ms);
    bq.push_back(rb.values["queue"]);
  }
  const double ma = median(a);
  const double mb = median(b);
  const double mr = median(ratio);
  std::printf("  %-44s %9s %9s %9s %12s\n", "", "median ms", "min ms", "max ms", "per job us");
  std::printf("  %-44s %9.2f %9.2f %9.2f %12.1f\n", "master (whole process)", ma, min_of(a),
              max_of(a), ma * 1000.0 / bench::kPopulation);
  std::printf("  %-44s %9.2f %9.2f %9.2f %12.1f\n", "baseline farm (whole process)", mb, min_of(b),
              max_of(b), mb * 1000.0 / bench::kPopulation);
  std::printf("  %-44s %9.2f %9s %9s %12.1f\n", "baseline job queue alone", median(bq) / 1000.0, "",
              "", median(bq) / bench::kPopulation);
  std::printf(
      "  ratio master/baseline, median of pairs: %.3f (min %.3f, max %.3f); target <= 1.10: %s\n",
      mr, min_of(ratio), max_of(ratio), mr <= 1.10 ? "met" : "NOT met");
}

// Median of one item over runs (0 where a run lacks it).
double median_of(const std::vector<Values>& runs, const char* key) {
  std::vector<double> v;
  for (const auto& r : runs) v.push_back(r.count(key) ? r.at(key) : 0.0);
  return median(v);
}

// One row of the phase table: the library master, the bare master with the
// library worker, the bare farm, and the differences (master's and worker's
// share of what the library adds).
void print_phase_row(const char* name, const std::vector<Values>& lib,
                     const std::vector<Values>& mixed, const std::vector<Values>& raw,
                     const char* key) {
  const double l = median_of(lib, key);
  const double m = median_of(mixed, key);
  const double r = median_of(raw, key);
  std::printf("  %-40s %9.0f %9.0f %9.0f %9.0f %9.0f\n", name, l, m, r, l - m, m - r);
}

void phases() {
  std::printf(
      "\n== Phase split: the master's steps on the library vs the bare farm (%d interleaved "
      "rounds)\n",
      cfg.phase_runs);
  std::vector<Values> runs[3];  // library master; bare master + library worker; bare farm
  const benchvm::Env library_worker{{"BENCH_WORKER", "torvo"}};
  for (int i = 0; i < cfg.phase_runs; ++i) {
    for (int k = 0; k < 3; ++k) {
      const int v = (k + i) % 3;
      const Run r =
          v == 0 ? run_phases_warm() : run_baseline_warm(v == 1 ? library_worker : benchvm::Env{});
      if (!r.ok) return;
      runs[v].push_back(r.values);
    }
  }
  std::printf("  %-40s %9s %9s %9s %9s %9s\n", "median us", "library", "bare+libw", "bare PVM",
              "master's", "worker's");
  const std::pair<const char*, const char*> rows[] = {
      {"spawn 5 workers (x_sp_c; joins the VM)", "spawn"},
      {"task-id list (x_stids)", "tids"},
      {"job queue, 100 jobs, workers starting", "queue"},
      {"stop notices (x_skflg_c)", "stop"},
      {"printing: echo, plistin, plistout", "print"},
      {"inside main, total", "total"},
      {"whole process (wall)", "wall"},
      {"job queue again, workers up (warm)", "warm"},
  };
  for (const auto& [name, key] : rows) print_phase_row(name, runs[0], runs[1], runs[2], key);
  std::printf(
      "  (bare+libw: the bare master with the library's worker; master's = library - "
      "bare+libw, worker's = bare+libw - bare PVM)\n");
  std::printf("  per job, warm queue: library %.1f us, bare+libw %.1f us, bare PVM %.1f us\n",
              median_of(runs[0], "warm") / bench::kPopulation,
              median_of(runs[1], "warm") / bench::kPopulation,
              median_of(runs[2], "warm") / bench::kPopulation);
  if (!runs[0].empty() && runs[0].front().count("records")) {
    std::printf("  records printed per run: %.0f\n", runs[0].front().at("records"));
  }
}

void route() {
  std::printf(
      "\n== Route: default (via pvmd) vs direct task-to-task links (%d runs each, rotated)\n",
      cfg.phase_runs);
  const benchvm::Env direct{{"BENCH_ROUTE", "direct"}};
  std::vector<Values> runs[4];
  const int first = cfg.running_vm ? 2 : 0;
  for (int i = 0; i < cfg.phase_runs; ++i) {
    for (int k = first; k < 4; ++k) {
      const int v = first + (k - first + i) % (4 - first);
      const benchvm::Env env = v % 2 == 1 ? direct : benchvm::Env{};
      const Run r = v < 2 ? run_baseline_warm(env) : run_phases_warm(env);
      if (!r.ok) return;
      runs[v].push_back(r.values);
    }
  }
  const char* names[4] = {"baseline, default route", "baseline, direct route",
                          "library master, default route", "library master, direct route"};
  std::printf("  %-32s %10s %10s %10s %10s %12s\n", "median", "process ms", "spawn ms", "queue ms",
              "warm ms", "warm/job us");
  for (int v = first; v < 4; ++v) {
    std::printf("  %-32s %10.2f %10.2f %10.2f %10.2f %12.1f\n", names[v],
                median_of(runs[v], "wall") / 1000.0, median_of(runs[v], "spawn") / 1000.0,
                median_of(runs[v], "queue") / 1000.0, median_of(runs[v], "warm") / 1000.0,
                median_of(runs[v], "warm") / bench::kPopulation);
  }
  for (int v = first; v < 4; v += 2) {
    std::printf("  direct/default, %s: process %.3f, queue %.3f, warm queue %.3f\n",
                v == 0 ? "baseline" : "library master",
                median_of(runs[v + 1], "wall") / median_of(runs[v], "wall"),
                median_of(runs[v + 1], "queue") / median_of(runs[v], "queue"),
                median_of(runs[v + 1], "warm") / median_of(runs[v], "warm"));
  }
}

// The load-balance mixes with work units of `unit_us`.
void balance_at(double unit_us) {
  std::printf("\n== Load balance: 100 jobs, 5 workers, unit %.0f us (%d runs per mix, medians)\n",
              unit_us, cfg.balance_runs);
  struct Mix {
    const char* name;
    const char* dist;
    const char* skew;
  };
  const Mix mixes[] = {
      {"varied 2..20 units, equal members", "varied", "0"},
      {"varied, member k 1+0.5k times slower", "varied", "0.5"},
      {"4 units, every 20th job 40 units", "fewlong", "0"},
  };
  std::printf("  %-38s %8s %8s %8s %8s %8s %8s %8s\n", "mix", "ideal", "greedy", "queue", "eff",
              "q/greedy", "slices", "eff");
  const std::string unit = std::to_string(unit_us);
  double varied_eff = 0.0;
  for (const Mix& m : mixes) {
    std::vector<Values> runs;
    for (int i = 0; i < cfg.balance_runs; ++i) {
      const Run r =
          run({cfg.bin + "/bench_master", "balance", unit, m.skew, m.dist}, {}, "balance");
      if (!r.ok) return;
      runs.push_back(r.values);
    }
    const double ideal = median_of(runs, "ideal");
    const double greedy = median_of(runs, "greedy");
    const double q = median_of(runs, "queue");
    const double sl = median_of(runs, "slices");
    if (&m == &mixes[0]) varied_eff = ideal / q;
    std::printf("  %-38s %8.1f %8.1f %8.1f %8.3f %8.3f %8.1f %8.3f\n", m.name, ideal / 1000.0,
                greedy / 1000.0, q / 1000.0, ideal / q, greedy / q, sl / 1000.0, ideal / sl);
  }
  std::printf(
      "  (ms; eff = ideal/makespan; greedy = a queue without overhead, same job order; "
      "q/greedy = greedy/queue)\n");
  std::printf("  target: job-queue efficiency >= 0.95 with varied job times (first row): %s\n",
              varied_eff >= 0.95 ? "met" : "NOT met");
}

void balance() {
  for (double unit_us : cfg.units_us) balance_at(unit_us);
}

void run_sections() {
  if (selected("whole")) whole_run();
  if (selected("phases")) phases();
  if (selected("route")) route();
  if (selected("balance")) balance();
}

std::string value_after(int& i, int argc, char** argv) {
  if (i + 1 >= argc) {
    std::fprintf(stderr, "farm_bench: %s needs a value\n", argv[i]);
    std::exit(64);
  }
  return argv[++i];
}

}  // namespace

int main(int argc, char** argv) {
  cfg.bin = fs::absolute(fs::path(argv[0])).parent_path().string();
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    if (a == "--bin") {
      cfg.bin = value_after(i, argc, argv);
    } else if (a == "--master") {
      cfg.master = value_after(i, argc, argv);
    } else if (a == "--workers") {
      cfg.workers = value_after(i, argc, argv);
    } else if (a == "--pairs") {
      cfg.pairs = std::atoi(value_after(i, argc, argv).c_str());
      cfg.phase_runs = std::max(1, cfg.pairs * 2 / 3);
    } else if (a == "--only") {
      cfg.only = value_after(i, argc, argv);
    } else if (a == "--unit") {
      cfg.units_us = {std::strtod(value_after(i, argc, argv).c_str(), nullptr)};
    } else if (a == "--running-vm") {
      cfg.running_vm = true;
    } else if (a == "--smoke") {
      cfg.pairs = 1;
      cfg.phase_runs = 1;
      cfg.balance_runs = 1;
      cfg.units_us = {50.0};
      cfg.limit = std::chrono::seconds(20);
    } else {
      std::fprintf(stderr,
                   "usage: farm_bench [--bin DIR] [--master PATH] [--workers DIR] [--pairs N] "
                   "[--only whole,phases,route,balance] [--unit US] [--smoke] [--running-vm]\n");
      return 64;
    }
  }
  if (cfg.master.empty()) cfg.master = cfg.bin + "/master";
  if (cfg.workers.empty()) cfg.workers = cfg.bin + "/benchworkers";
  cfg.master = fs::absolute(cfg.master).string();
  cfg.workers = fs::absolute(cfg.workers).string();

  // Declared before the virtual machine, so removed after it has halted.
  const test_support::TempDir run_dir("farmbench");
  cfg.run_dir = run_dir.path();
  test_support::write_file(cfg.run_dir + "/seq_d.in", bench::input_file(true));
  test_support::write_file(cfg.run_dir + "/seq_t.in", bench::input_file(false));
  std::printf("farm_bench: population %d, %d workers; master %s; workers from %s\n",
              bench::kPopulation, bench::kWorkers, cfg.master.c_str(), cfg.workers.c_str());
  if (cfg.running_vm) {
    std::printf("farm_bench: on the running virtual machine (PVM_TMP=%s), %s\n",
                std::getenv("PVM_TMP") != nullptr ? std::getenv("PVM_TMP") : "/tmp",
                "its hosts in the order of its host list");
    run_sections();
  } else {
    test_support::PrivateVm vm(test_support::VmOptions{cfg.workers, cfg.run_dir, {}});
    if (!vm.ok()) {
      std::printf("farm_bench: %s\n", vm.error().c_str());
      failed = true;
    } else {
      std::printf("farm_bench: private one-host virtual machine\n");
      run_sections();
    }
  }
  std::fflush(stdout);
  return failed ? 1 : 0;
}
