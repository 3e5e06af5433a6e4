#include "tests/support/private_vm.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#ifndef TEST_BIN_DIR
#error "TEST_BIN_DIR must name the directory of the built programs"
#endif

namespace test_support {
namespace fs = std::filesystem;

std::string bin_dir() { return TEST_BIN_DIR; }

std::string make_temp_dir(const std::string& prefix) {
  std::string pattern = (fs::temp_directory_path() / (prefix + ".XXXXXX")).string();
  if (::mkdtemp(pattern.data()) == nullptr) {
    throw std::runtime_error("mkdtemp failed: " + std::string(std::strerror(errno)));
  }
  return pattern;
}

TempDir::TempDir(const std::string& prefix) : path_(make_temp_dir(prefix)) {}
TempDir::~TempDir() {
  std::error_code ec;
  fs::remove_all(path_, ec);
}

std::optional<std::string> read_file(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return std::nullopt;
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

void write_file(const std::string& path, const std::string& text) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << text;
}

namespace {

std::string daemon_file(const std::string& tmp) {
  return tmp + "/pvmd." + std::to_string(::getuid());
}

bool alive(int pid) {
  int status = 0;
  return ::waitpid(pid, &status, WNOHANG) == 0;
}

}  // namespace

PrivateVm::PrivateVm(const VmOptions& options) {
  tmp_ = make_temp_dir("pvmvm");
  ::setenv("PVM_TMP", tmp_.c_str(), 1);
  ::setenv("PVM_ALLOW_ROOT", "1", 1);
  for (const auto& [name, value] : options.env) ::setenv(name.c_str(), value.c_str(), 1);

  const std::string hostfile = tmp_ + "/hostfile";
  std::string line = "* ep=" + (options.ep.empty() ? bin_dir() : options.ep);
  if (!options.wd.empty()) line += " wd=" + options.wd;
  write_file(hostfile, line + "\n");

  const std::string log = tmp_ + "/pvmd.out";
  pid_ = ::fork();
  if (pid_ == 0) {
    const int fd = ::open(log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (fd >= 0) {
      ::dup2(fd, STDOUT_FILENO);
      ::dup2(fd, STDERR_FILENO);
    }
    ::setpgid(0, 0);
    // Should the test process be killed (a time-out), the daemon goes too,
    // and takes its tasks with it.
    ::prctl(PR_SET_PDEATHSIG, SIGTERM);
    ::execlp("pvmd", "pvmd", hostfile.c_str(), static_cast<char*>(nullptr));
    ::_exit(127);
  }
  // pvmd forks itself into the background; its first process ends soon. The
  // daemon is up when its address file exists and holds an address.
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(15);
  while (std::chrono::steady_clock::now() < deadline) {
    const auto text = read_file(daemon_file(tmp_));
    if (text && !text->empty()) {
      ok_ = true;
      break;
    }
    if (!alive(pid_)) {  // refused to start (it still exits 0 then)
      pid_ = -1;
      break;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  if (!ok_) {
    error_ = "pvmd did not come up in " + tmp_ + ": " + read_file(log).value_or("(no log)");
  }
}

void PrivateVm::halt() {
  if (tmp_.empty()) return;
  // A test process that enrolled in the virtual machine is one of the
  // daemon's tasks, and a halting daemon sends its tasks SIGTERM: ignore it
  // while the daemon goes down.
  struct sigaction ignore {};
  struct sigaction previous {};
  ignore.sa_handler = SIG_IGN;
  ::sigaction(SIGTERM, &ignore, &previous);
  if (pid_ > 0) {
    // pvmd runs in the foreground of the process we forked. On SIGTERM it
    // kills its tasks, removes its address file and ends.
    ::kill(pid_, SIGTERM);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (alive(pid_) && std::chrono::steady_clock::now() < deadline) {
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    ::kill(-pid_, SIGKILL);  // whatever is left of its process group
    int status = 0;
    ::waitpid(pid_, &status, 0);
    pid_ = -1;
  }
  std::error_code ec;
  fs::remove_all(tmp_, ec);
  tmp_.clear();
  ok_ = false;
  ::sigaction(SIGTERM, &previous, nullptr);
}

PrivateVm::~PrivateVm() { halt(); }

RunResult run_program(const std::vector<std::string>& argv, const std::string& cwd,
                      const std::vector<std::pair<std::string, std::string>>& env,
                      std::chrono::seconds limit) {
  RunResult result;
  int out_pipe[2];
  int err_pipe[2];
  if (::pipe(out_pipe) != 0 || ::pipe(err_pipe) != 0) {
    result.err = "pipe failed";
    return result;
  }
  const int pid = ::fork();
  if (pid == 0) {
    ::setpgid(0, 0);
    ::dup2(out_pipe[1], STDOUT_FILENO);
    ::dup2(err_pipe[1], STDERR_FILENO);
    ::close(out_pipe[0]);
    ::close(err_pipe[0]);
    ::close(out_pipe[1]);
    ::close(err_pipe[1]);
    if (::chdir(cwd.c_str()) != 0) ::_exit(126);
    for (const auto& [name, value] : env) ::setenv(name.c_str(), value.c_str(), 1);
    std::vector<char*> args;
    for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    ::execv(args[0], args.data());
    ::_exit(127);
  }
  ::close(out_pipe[1]);
  ::close(err_pipe[1]);
  pollfd fds[2] = {{out_pipe[0], POLLIN, 0}, {err_pipe[0], POLLIN, 0}};
  std::string* sinks[2] = {&result.out, &result.err};
  int open_fds = 2;
  const auto deadline = std::chrono::steady_clock::now() + limit;
  while (open_fds > 0) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) {
      result.timed_out = true;
      ::kill(-pid, SIGKILL);
      break;
    }
    const int n = ::poll(fds, 2, static_cast<int>(std::min<long long>(left.count(), 1000)));
    if (n < 0 && errno != EINTR) break;
    for (int i = 0; i < 2; ++i) {
      if (fds[i].fd < 0 || (fds[i].revents & (POLLIN | POLLHUP | POLLERR)) == 0) continue;
      char buf[65536];
      const ssize_t r = ::read(fds[i].fd, buf, sizeof buf);
      if (r > 0) {
        sinks[i]->append(buf, static_cast<std::size_t>(r));
      } else if (r == 0 || errno != EINTR) {
        ::close(fds[i].fd);
        fds[i].fd = -1;
        --open_fds;
      }
    }
  }
  for (auto& f : fds) {
    if (f.fd >= 0) ::close(f.fd);
  }
  int status = 0;
  ::waitpid(pid, &status, 0);
  result.exit_status = exit_status_of(status);
  return result;
}

int exit_status_of(int wait_status) {
  if (WIFEXITED(wait_status)) return WEXITSTATUS(wait_status);
  if (WIFSIGNALED(wait_status)) return 128 + WTERMSIG(wait_status);
  return -1;
}

}  // namespace test_support
