// worktest_master: a master for the tests of the job queue and the group
// exchanges, built from the library alone. It spawns a group of
// worktest_worker tasks (x_sp_c from the own host, one host further per
// task), sends them the task ids with tag 1 and then runs one mode:
//
//   queue NPROC IPSZ SNDC [JOB ...]   fills job m's slice of r8_frm_p with
//       JOB m = "delay,count[,who]" (default "0,2"), runs x_cque_c with tag
//       2, prints "rcv_c=", "who=" and r8_frm_c positions 1 .. IPSZ*rcv_c+2
//       ("r8_frm_c(", k, ")=", value), then x_skflg_c.
//   group NPROC                       x_sflg_c (tag 3, flag 5), x_sdat_c
//       (tag 2, flag 1, 4 values per member, r8_frm_p(k) = k), x_rdat_c
//       (tag 2) and prints "rcv_c=" and r8_frm_c 1 .. 4*NPROC+1, x_riflg_c (tag 4),
//       x_sdat_c (tag 2, flag 0).
//   gather NPROC SNDC [JOB ...]      sends member k the job JOB k+1 in its
//       slice (x_sdat_c, tag 2, SNDC values per member), gathers the results
//       with x_rdat_c (tag 2) and prints r8_frm_c 1 .. 2*NPROC, then sends
//       the stop notice with x_sdat_c and flag 0.
//   send NPROC ISTAT COUNT             sends member 0 a hand-built message of
//       the two integers ISTAT and COUNT with tag 2 and ends.
//   job NPROC JOB                      sends member 0 the job JOB with
//       x_sdat_c and ends without waiting for the result.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "communicate/communicate.h"
#include "records/channels.h"

namespace {

using namespace communicate;

const NameField kGroup = NameField::from("worktest_worker");

std::int32_t number(const char* text) {
  return static_cast<std::int32_t>(std::strtol(text, nullptr, 10));
}

// Writes the job "delay,count[,who]" into the 5 values from `at`.
void put_job(std::int32_t at, std::int32_t job, std::string_view job_text) {
  State& s = state();
  double fields[3] = {0.0, 2.0, 0.0};
  int n = 0;
  std::size_t start = 0;
  while (n < 3 && start <= job_text.size()) {
    const std::size_t comma = job_text.find(',', start);
    const std::string part(job_text.substr(
        start, comma == std::string_view::npos ? std::string_view::npos : comma - start));
    if (!part.empty()) fields[n] = std::strtod(part.c_str(), nullptr);
    ++n;
    if (comma == std::string_view::npos) break;
    start = comma + 1;
  }
  s.r8_frm_p[at] = fields[0];
  s.r8_frm_p[at + 1] = job;
  s.r8_frm_p[at + 2] = fields[1];
  s.r8_frm_p[at + 3] = n >= 3 ? 1.0 : 0.0;
  s.r8_frm_p[at + 4] = fields[2];
}

// Fills the slices of jobs 1 .. `jobs` (job m in slice m - 1, snd_c values
// each) from the arguments argv[first] on, "0,2" where they run out. Only
// slices that hold a whole job (snd_c >= 5) and stay within the 10000
// positions are filled.
void fill_jobs(std::int32_t jobs, int argc, char** argv, int first) {
  const std::int32_t sndc = state().snd_c;
  if (sndc < 5) return;
  for (std::int32_t m = 1; m <= jobs && std::int64_t{m} * sndc <= kBufferValues; ++m) {
    const int arg = first + m - 1;
    put_job((m - 1) * sndc + 1, m,
            arg < argc ? std::string_view(argv[arg]) : std::string_view("0,2"));
  }
}

void print_results(std::int32_t up_to) {
  State& s = state();
  for (std::int32_t k = 1; k <= up_to; ++k)
    records::print(records::kStdout, "r8_frm_c(", k, ")=", s.r8_frm_c[k]);
}

int run_queue(int argc, char** argv) {
  State& s = state();
  const std::int32_t ipsz = number(argv[3]);
  s.snd_c = number(argv[4]);
  fill_jobs(100, argc, argv, 5);
  x_cque_c(2, kGroup, ipsz);
  records::print(records::kStdout, "rcv_c=", s.rcv_c);
  records::print(records::kStdout, "who=", s.who);
  // The slots of the population and two positions more (they stay zero).
  print_results(std::min<std::int32_t>(ipsz * s.rcv_c + 2, kBufferValues));
  x_skflg_c(2, kGroup);
  return 0;
}

int run_group(std::int32_t nproc) {
  State& s = state();
  s.snd_c = 4;
  for (std::int32_t k = 1; k <= 4 * nproc + 1; ++k) s.r8_frm_p[k] = k;
  x_sflg_c(3, kGroup, 5);
  x_sdat_c(2, kGroup, 1);
  x_rdat_c(2, kGroup);
  records::print(records::kStdout, "rcv_c=", s.rcv_c);
  print_results(4 * nproc + 1);
  x_riflg_c(4, kGroup);
  x_sdat_c(2, kGroup, 0);
  return 0;
}

int run_gather(int argc, char** argv, std::int32_t nproc) {
  State& s = state();
  s.snd_c = number(argv[3]);
  fill_jobs(nproc, argc, argv, 4);
  x_sdat_c(2, kGroup, 1);
  x_rdat_c(2, kGroup);
  print_results(2 * nproc);
  x_sdat_c(2, kGroup, 0);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) return 2;
  const std::string_view mode = argv[1];
  const std::int32_t nproc = number(argv[2]);
  x_sp_c(kGroup, nproc, 0, 1);
  x_stids(1, kGroup, kGroup);
  int status = 2;
  if (mode == "queue" && argc >= 5) {
    status = run_queue(argc, argv);
  } else if (mode == "group") {
    status = run_group(nproc);
  } else if (mode == "gather" && argc >= 4) {
    status = run_gather(argc, argv, nproc);
  } else if (mode == "send" && argc >= 5) {
    pk_i1(number(argv[3]));
    pk_i1(number(argv[4]));
    destin(2, kGroup, 0);
    status = 0;
  } else if (mode == "job" && argc >= 4) {
    state().snd_c = 5;
    put_job(1, 1, argv[3]);
    x_sdat_c(2, kGroup, 1);
    status = 0;
  }
  stop(status);
}
