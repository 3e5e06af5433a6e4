#include "bench/bench_vm.h"

#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <thread>

namespace benchvm {
namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;


TimedRun run_timed(const std::vector<std::string>& argv, const std::string& cwd,
                   const std::string& out_path, const Env& env, std::chrono::seconds limit) {
  TimedRun result;
  const std::string err_path = out_path + ".err";
  std::vector<char*> args;
  for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);

  const auto start = Clock::now();
  const int pid = ::fork();
  if (pid == 0) {
    const int out = ::open(out_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    const int err = ::open(err_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (out < 0 || err < 0 || ::chdir(cwd.c_str()) != 0) ::_exit(126);
    ::dup2(out, STDOUT_FILENO);
    ::dup2(err, STDERR_FILENO);
    ::close(out);
    ::close(err);
    for (const auto& [name, value] : env) ::setenv(name.c_str(), value.c_str(), 1);
    ::execv(args[0], args.data());
    ::_exit(127);
  }
  if (pid < 0) {
    result.err = "fork failed";
    return result;
  }
  // A process descriptor becomes readable when the child ends, so the end is
  // seen at once, without polling.
  const int pidfd = static_cast<int>(::syscall(SYS_pidfd_open, pid, 0));
  int status = 0;
  if (pidfd >= 0) {
    pollfd p{pidfd, POLLIN, 0};
    const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(limit).count();
    const int n = ::poll(&p, 1, static_cast<int>(std::min<long long>(ms, INT_MAX)));
    if (n == 0) {
      result.timed_out = true;
      ::kill(pid, SIGKILL);
    }
    ::close(pidfd);
    ::waitpid(pid, &status, 0);
  } else {
    ::waitpid(pid, &status, 0);
  }
  result.seconds = std::chrono::duration<double>(Clock::now() - start).count();
  result.exit_status = test_support::exit_status_of(status);
  result.err = test_support::read_file(err_path).value_or("");
  return result;
}

bool wait_for_no_task(const std::string& dir, std::chrono::milliseconds limit) {
  const std::string prefix = fs::canonical(dir).string() + "/";
  const auto deadline = Clock::now() + limit;
  for (;;) {
    bool found = false;
    if (DIR* proc = ::opendir("/proc")) {
      while (const dirent* e = ::readdir(proc)) {
        if (e->d_name[0] < '0' || e->d_name[0] > '9') continue;
        char target[PATH_MAX];
        const std::string link = std::string("/proc/") + e->d_name + "/exe";
        const ssize_t n = ::readlink(link.c_str(), target, sizeof target - 1);
        if (n <= 0) continue;
        target[n] = '\0';
        if (std::strncmp(target, prefix.c_str(), prefix.size()) == 0) {
          found = true;
          break;
        }
      }
      ::closedir(proc);
    }
    if (!found) return true;
    if (Clock::now() >= deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
}

}  // namespace benchvm
