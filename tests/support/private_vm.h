// Test support: a private PVM virtual machine and a child-process runner.
//
// PrivateVm starts its own pvmd with its own PVM_TMP directory, a hostfile
// whose ep= points at the built programs, and PVM_ALLOW_ROOT=1, and sets
// PVM_TMP in this process's environment so that libpvm3 here and in every
// child process talks to that daemon. The destructor halts the daemon (its
// tasks die with it) and removes the directory, so no test meets or leaves a
// stray pvmd. run_program() runs a program with a time limit and collects its
// output and exit status.
#pragma once

#include <chrono>
#include <optional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace test_support {

// Directory holding the built programs (build/bin), from the build.
std::string bin_dir();

// A fresh empty temporary directory, removed by the caller (or by TempDir).
std::string make_temp_dir(const std::string& prefix);

// A temporary directory removed with its contents when the object goes.
class TempDir {
 public:
  explicit TempDir(const std::string& prefix = "pvmtest");
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::string& path() const { return path_; }
  // Path of `name` inside the directory.
  std::string file(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

struct VmOptions {
  std::string ep;                     // ep= of the hostfile; bin_dir() when empty
  std::string wd;                     // wd= of the hostfile; none when empty
  std::vector<std::pair<std::string, std::string>> env;  // set for the daemon and its tasks
};

class PrivateVm {
 public:
  explicit PrivateVm(const VmOptions& options = {});
  ~PrivateVm();
  PrivateVm(const PrivateVm&) = delete;
  PrivateVm& operator=(const PrivateVm&) = delete;

  // True when the daemon came up; error() tells why not.
  bool ok() const { return ok_; }
  const std::string& error() const { return error_; }
  const std::string& tmp_dir() const { return tmp_; }
  // Stops the daemon and every task it runs. Called by the destructor.
  void halt();

 private:
  std::string tmp_;
  std::string error_;
  int pid_ = -1;
  bool ok_ = false;
};

struct RunResult {
  int exit_status = -1;  // exit code, or 128+signal
  bool timed_out = false;
  std::string out;
  std::string err;
};

// Runs `argv` in directory `cwd` with extra environment `env`, kills it after
// `limit`, and returns what it printed and how it ended.
RunResult run_program(const std::vector<std::string>& argv, const std::string& cwd,
                      const std::vector<std::pair<std::string, std::string>>& env = {},
                      std::chrono::seconds limit = std::chrono::seconds(60));

// The exit code of a process from its waitpid status: its exit status, or
// 128+signal when a signal ended it, else -1.
int exit_status_of(int wait_status);

// Polls `predicate` every 20 ms until it holds or `limit` has passed;
// returns whether it held.
template <class Predicate>
bool wait_for(Predicate predicate, std::chrono::milliseconds limit = std::chrono::seconds(10)) {
  const auto deadline = std::chrono::steady_clock::now() + limit;
  while (!predicate()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return true;
}

// Whole contents of a file, or nullopt when it cannot be read.
std::optional<std::string> read_file(const std::string& path);
// Writes `text` to `path`, replacing it.
void write_file(const std::string& path, const std::string& text);

}  // namespace test_support
