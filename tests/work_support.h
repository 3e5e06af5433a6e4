// Helpers shared by the work-distribution, start-up and loss tests: expected
// records laid out by the record layer, task output files of spawned
// workers, a private virtual machine for the workers with the masters run
// on it, and the tasks of that machine that still run.
#pragma once

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdlib>
#include <cstdint>
#include <filesystem>
#include <map>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "communicate/communicate.h"
#include "records/format.h"
#include "tests/support/private_vm.h"
#include "tests/support/record_text.h"

namespace work_test {

// One list record, as the record layer writes it (with its line feeds),
// one made of a label and an array of reals, and one index line.
using test_support::index_line;
using test_support::record;
using test_support::record_of;

// The lines of `text`, without their line feeds.
inline std::vector<std::string> lines(const std::string& text) {
  std::vector<std::string> out;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) out.push_back(line);
  return out;
}

// The whitespace-separated words of `line`; a real in D-exponent form is
// given with an E so that it reads as a number.
inline std::vector<std::string> words(std::string line) {
  for (char& c : line) {
    if (c == 'D') c = 'E';
  }
  std::vector<std::string> out;
  std::istringstream in(line);
  for (std::string w; in >> w;) out.push_back(w);
  return out;
}

// The four banner records a worker writes at the top of its task output file
// `path` on computer `host`, with parent task id `mptid`.
inline std::string banner(const std::string& path, const records::NameField& host,
                          std::int32_t mptid) {
  return record("FILE OPENED:", communicate::PathField::from(path)) + record("hey") +
         record("This computer =", host) + record("mptid=", mptid);
}

// The record a master prints when it has sent its stop notice to `member`.
inline std::string kill_notice(int member) {
  return record("Kill notice from proc =", member, " has been sent!");
}

// The stop-notice records of members 0 .. `members`-1, in order.
inline std::string kill_notices(int members) {
  std::string text;
  for (int i = 0; i < members; ++i) text += kill_notice(i);
  return text;
}

// The task output files in `dir` whose names begin with `prefix`, by name.
inline std::map<std::string, std::string> task_files(const std::string& dir,
                                                     const std::string& prefix) {
  std::map<std::string, std::string> files;
  std::error_code ec;
  for (const auto& entry : std::filesystem::directory_iterator(dir, ec)) {
    const std::string name = entry.path().filename().string();
    if (name.rfind(prefix, 0) == 0)
      files[name] = test_support::read_file(entry.path().string()).value_or("");
  }
  return files;
}

// The integer after the first record that begins with `label` in `text`.
inline std::optional<long> value_after(const std::string& text, const std::string& label) {
  for (const std::string& line : lines(text)) {
    const std::vector<std::string> w = words(line);
    if (w.size() >= 2 && w[0] == label) return std::stol(w[1]);
  }
  return std::nullopt;
}

// True when there are exactly `count` task output `files` and each holds `text`.
inline bool files_all_contain(const std::map<std::string, std::string>& files, std::size_t count,
                              const std::string& text) {
  return files.size() == count && std::all_of(files.begin(), files.end(), [&](const auto& f) {
           return f.second.find(text) != std::string::npos;
         });
}

// Pids of the live processes that run the program `exe` with PVM_TMP=`pvm_tmp`
// in their environment: the tasks of one private virtual machine.
inline std::vector<long> tasks_of(const std::string& exe, const std::string& pvm_tmp) {
  std::vector<long> pids;
  std::error_code ec;
  const std::filesystem::path program = std::filesystem::canonical(exe, ec);
  const std::string wanted = "PVM_TMP=" + pvm_tmp;
  for (const auto& entry : std::filesystem::directory_iterator("/proc", ec)) {
    const std::string name = entry.path().filename().string();
    if (name.empty() || name.find_first_not_of("0123456789") != std::string::npos) continue;
    std::error_code link_error;
    if (std::filesystem::read_symlink(entry.path() / "exe", link_error) != program)
      continue;  // also zombies
    const std::string environ =
        test_support::read_file(entry.path().string() + "/environ").value_or("");
    std::size_t start = 0;
    while (start < environ.size()) {
      const std::size_t end = environ.find('\0', start);
      const std::size_t stop = end == std::string::npos ? environ.size() : end;
      if (environ.compare(start, stop - start, wanted) == 0) {
        pids.push_back(std::stol(name));
        break;
      }
      start = stop + 1;
    }
  }
  return pids;
}

// Waits until a predicate holds or a time limit (10 s) passes.
using test_support::wait_for;

// True when no task running `exe` is left on the virtual machine of
// `pvm_tmp`. A task spawned just before its master ended may take a moment
// to show as a process of its program, hence the pause first.
inline bool no_task_left(const std::string& exe, const std::string& pvm_tmp) {
  std::this_thread::sleep_for(std::chrono::milliseconds(500));
  return wait_for([&] { return tasks_of(exe, pvm_tmp).empty(); }, std::chrono::milliseconds(5000));
}

// The "r8_frm_c(" k ")=" value records that worktest_master prints, by position.
inline std::map<int, double> r8_frm_c_records(const std::string& out) {
  std::map<int, double> values;
  for (const std::string& line : lines(out)) {
    const auto w = words(line);
    if (w.size() == 4 && w[0] == "r8_frm_c(" && w[2] == ")=") values[std::stoi(w[1])] = std::stod(w[3]);
  }
  return values;
}

using Env = std::vector<std::pair<std::string, std::string>>;

// A private virtual machine whose tasks (found in directory `ep`, given as
// `ep_dir`, by default the built programs) see `env` and write their task
// output files into out/ of a temporary directory, named to them by the
// variable `out_variable` (WORKTEST_OUT of worktest_worker by default). The
// masters of the tests run in that directory, so their fort.1 lands there
// too. Each (variable, name) of `bed_files` sets the variable to file `name`
// of that directory.
struct WorkerBed {
  test_support::TempDir dir;
  std::string out = dir.file("out");
  Env env;
  std::string ep;
  test_support::PrivateVm vm;

  WorkerBed(const std::string& prefix, Env extra, const Env& bed_files = {},
            const std::string& ep_dir = test_support::bin_dir(),
            const std::string& out_variable = "WORKTEST_OUT")
      : dir(prefix),
        env(with_files(std::move(extra), bed_files, out_variable, dir)),
        ep(ep_dir),
        vm(test_support::VmOptions{ep, dir.path(), env}) {}
  // PrivateVm puts the variables into this process too: take them out again.
  ~WorkerBed() {
    for (const auto& [name, value] : env) ::unsetenv(name.c_str());
  }
  WorkerBed(const WorkerBed&) = delete;
  WorkerBed& operator=(const WorkerBed&) = delete;

  static Env with_files(Env extra, const Env& bed_files, const std::string& out_variable,
                        const test_support::TempDir& dir) {
    extra.emplace_back(out_variable, dir.file("out"));
    for (const auto& [name, file] : bed_files) extra.emplace_back(name, dir.file(file));
    return extra;
  }

  // Runs worktest_master with `args` in the bed's directory.
  test_support::RunResult master(const std::vector<std::string>& args) const {
    std::vector<std::string> argv = {test_support::bin_dir() + "/worktest_master"};
    argv.insert(argv.end(), args.begin(), args.end());
    return test_support::run_program(argv, dir.path(), {}, std::chrono::seconds(40));
  }

  // Runs the master program in the bed's directory, killed after `limit`.
  test_support::RunResult run_master(std::chrono::seconds limit) const {
    return test_support::run_program({test_support::bin_dir() + "/master"}, dir.path(), {}, limit);
  }

  std::string fort1() const { return test_support::read_file(dir.file("fort.1")).value_or(""); }

  std::map<std::string, std::string> workers() const {
    return task_files(out, "worktest_worker_std");
  }

  // The text of the first worktest_worker task output file by name; empty
  // while there is none.
  std::string first_worker() const {
    const auto files = workers();
    return files.empty() ? std::string() : files.begin()->second;
  }

  // True when no task of this virtual machine runs `program` (from `ep`).
  bool no_task_left(const std::string& program) const {
    return work_test::no_task_left(ep + "/" + program, vm.tmp_dir());
  }

  // True when no worktest_worker task of this virtual machine is left.
  bool no_worker_left() const { return no_task_left("worktest_worker"); }
};

// (member, job) of every "LOST member" record of a fort.1, in order.
inline std::vector<std::pair<int, int>> lost_members(const std::string& fort1) {
  std::vector<std::pair<int, int>> found;
  for (const std::string& line : lines(fort1)) {
    const auto w = words(line);
    if (w.size() == 7 && w[0] == "LOST" && w[1] == "member" && w[3] == "task" && w[5] == "job")
      found.emplace_back(std::stoi(w[2]), std::stoi(w[6]));
  }
  return found;
}

// The jobs named by the "LOST member" records of a fort.1, in order.
inline std::vector<int> lost_jobs(const std::string& fort1) {
  std::vector<int> jobs;
  for (const auto& [member, job] : lost_members(fort1)) jobs.push_back(job);
  return jobs;
}

// Total number of jobs the workers logged ("job=" records).
inline int jobs_logged(const std::map<std::string, std::string>& files) {
  int jobs = 0;
  for (const auto& [name, text] : files) {
    for (const std::string& line : lines(text)) jobs += line.rfind(" job=", 0) == 0 ? 1 : 0;
  }
  return jobs;
}

}  // namespace work_test
