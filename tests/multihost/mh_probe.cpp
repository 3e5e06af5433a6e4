// mh_probe: a small PVM task that shows what the multi-host test bed really
// gives a program. Three modes:
//   mh_probe conf                  list the hosts of the virtual machine, one
//                                  "host <name> <dtid>" line each; exit 0 when
//                                  the local pvmd answers.
//   mh_probe spawn [VAR] HOST...   spawn one copy of itself on each HOST (one
//                                  pvm_spawn with PvmTaskHost per host); every
//                                  copy reports its host name, the inode of its
//                                  network namespace and the value of the
//                                  environment variable VAR (optional, given as
//                                  VAR=name). Prints one "task" line per copy;
//                                  exit 0 when all copies started and answered
//                                  within 20 s, 3 when a spawn request started
//                                  no task, 1 otherwise.
//   mh_probe child [VAR]           (used by spawn) report to the parent.
// The probe stays independent of the communicate library on purpose: it checks
// the test bed, not the product.
#include <pvm3.h>
#include <sys/time.h>
#include <unistd.h>

#include <array>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

constexpr int report_tag = 77;
constexpr int max_hosts = 32;

// Length of a C string that fits an int (PVM counts bytes as int).
int text_len(const char* s) { return static_cast<int>(std::strlen(s)); }

// Packs one text as a counted byte array.
void pack_text(const char* s) {
  int n = text_len(s);
  pvm_pkint(&n, 1, 1);
  pvm_pkbyte(const_cast<char*>(s), n, 1);
}

// Unpacks a counted byte array packed by pack_text.
std::string unpack_text() {
  int n = 0;
  pvm_upkint(&n, 1, 1);
  std::array<char, 512> buf{};
  if (n < 0 || n >= static_cast<int>(buf.size())) return "?";
  pvm_upkbyte(buf.data(), n, 1);
  return std::string(buf.data(), static_cast<std::size_t>(n));
}

// Name of the configured host whose pvmd has task id dtid.
std::string host_of_dtid(int dtid) {
  int nhost = 0;
  int narch = 0;
  pvmhostinfo* hi = nullptr;
  if (pvm_config(&nhost, &narch, &hi) < 0) return "?";
  for (int i = 0; i < nhost; ++i)
    if (hi[i].hi_tid == dtid) return hi[i].hi_name;
  return "?";
}

// Value of "VAR=name" arguments: the variable's name, or nullptr.
const char* var_arg(const char* arg) {
  if (arg != nullptr && std::strncmp(arg, "VAR=", 4) == 0) return arg + 4;
  return nullptr;
}

int run_conf() {
  int nhost = 0;
  int narch = 0;
  pvmhostinfo* hi = nullptr;
  if (pvm_config(&nhost, &narch, &hi) < 0) {
    std::fprintf(stderr, "mh_probe: pvm_config failed\n");
    return 1;
  }
  for (int i = 0; i < nhost; ++i) std::printf("host %s %x\n", hi[i].hi_name, hi[i].hi_tid);
  return 0;
}

int run_child(const char* var) {
  std::array<char, 256> name{};
  gethostname(name.data(), name.size() - 1);
  std::array<char, 256> ns{};
  ssize_t n = readlink("/proc/self/ns/net", ns.data(), ns.size() - 1);
  if (n < 0) std::strcpy(ns.data(), "?");
  const char* value = var != nullptr ? std::getenv(var) : nullptr;
  pvm_initsend(PvmDataDefault);
  pack_text(name.data());
  pack_text(ns.data());
  pack_text(value != nullptr ? value : "(unset)");
  pvm_send(pvm_parent(), report_tag);
  pvm_exit();
  return 0;
}

int run_spawn(int argc, char** argv) {
  int first = 2;
  const char* var = var_arg(argc > first ? argv[first] : nullptr);
  if (var != nullptr) ++first;
  std::array<int, max_hosts> tids{};
  std::array<std::string, max_hosts> asked{};
  int started = 0;
  int status = 0;
  std::string var_opt = var != nullptr ? std::string("VAR=") + var : std::string();
  std::array<char*, 3> child_argv{const_cast<char*>("child"), nullptr, nullptr};
  if (var != nullptr) child_argv[1] = var_opt.data();
  for (int i = first; i < argc && started < max_hosts; ++i) {
    int tid = 0;
    int numt = pvm_spawn(const_cast<char*>("mh_probe"), child_argv.data(), PvmTaskHost, argv[i], 1, &tid);
    if (numt != 1) {
      std::printf("spawn %s failed numt=%d code=%d\n", argv[i], numt, tid);
      status = 3;
      continue;
    }
    tids[static_cast<std::size_t>(started)] = tid;
    asked[static_cast<std::size_t>(started)] = argv[i];
    ++started;
  }
  for (int k = 0; k < started; ++k) {
    timeval limit{20, 0};
    int bufid = pvm_trecv(-1, report_tag, &limit);
    if (bufid <= 0) {
      std::printf("no report within 20 s\n");
      if (status == 0) status = 1;
      break;
    }
    int bytes = 0;
    int tag = 0;
    int src = 0;
    pvm_bufinfo(bufid, &bytes, &tag, &src);
    std::string req = "?";
    for (int j = 0; j < started; ++j)
      if (tids[static_cast<std::size_t>(j)] == src) req = asked[static_cast<std::size_t>(j)];
    std::string hostname = unpack_text();
    std::string ns = unpack_text();
    std::string value = unpack_text();
    std::printf("task t%x asked=%s pvmhost=%s hostname=%s netns=%s var=%s\n", src, req.c_str(),
                host_of_dtid(pvm_tidtohost(src)).c_str(), hostname.c_str(), ns.c_str(),
                value.c_str());
  }
  return status;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: mh_probe conf | spawn [VAR=name] HOST... | child [VAR=name]\n");
    return 2;
  }
  if (pvm_mytid() < 0) {
    std::fprintf(stderr, "mh_probe: no pvmd to talk to\n");
    return 1;
  }
  int status = 2;
  if (std::strcmp(argv[1], "conf") == 0) status = run_conf();
  if (std::strcmp(argv[1], "spawn") == 0) status = run_spawn(argc, argv);
  if (std::strcmp(argv[1], "child") == 0) return run_child(var_arg(argc > 2 ? argv[2] : nullptr));
  std::fflush(stdout);
  pvm_exit();
  return status;
}
