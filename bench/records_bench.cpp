// Formatting and printing costs of the record layer.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "records/channels.h"
#include "records/format.h"

namespace {

void BM_RealField(benchmark::State& state) {
  std::string out;
  out.reserve(64);
  double x = 1234.5678;
  for (auto _ : state) {
    out.clear();
    records::append_real_field(out, x);
    benchmark::DoNotOptimize(out.data());
    x += 0.001;
  }
}
BENCHMARK(BM_RealField);

void BM_PlistoutRecord(benchmark::State& state) {
  std::string out;
  out.reserve(128);
  std::int32_t k = 1;
  for (auto _ : state) {
    out.clear();
    const records::Item items[] = {"plistout(", k, ")=", 1.0 / k};
    records::append_list_record(out, items);
    benchmark::DoNotOptimize(out.data());
    ++k;
  }
}
BENCHMARK(BM_PlistoutRecord);

// Formatting 10000 "plistout(" records, each into the reused buffer, with no
// I/O: the printing's own share.
void BM_Format10000Plistout(benchmark::State& state) {
  std::string out;
  out.reserve(4096);
  for (auto _ : state) {
    for (std::int32_t k = 1; k <= 10000; ++k) {
      out.clear();
      const records::Item items[] = {"plistout(", k, ")=", 1.0 / k};
      records::append_list_record(out, items);
      benchmark::DoNotOptimize(out.data());
    }
  }
}
BENCHMARK(BM_Format10000Plistout)->Unit(benchmark::kMillisecond);

// 10000 of the cheapest system call there is: the machine's floor for
// handing 10000 lines to the operating system one at a time.
void BM_10000EmptySystemCalls(benchmark::State& state) {
  for (auto _ : state) {
    for (int k = 0; k < 10000; ++k) benchmark::DoNotOptimize(::getppid());
  }
}
BENCHMARK(BM_10000EmptySystemCalls)->Unit(benchmark::kMillisecond);

// Printing 10000 "plistout(" records through channel 6, each handed to the
// operating system as it ends. Standard output goes to /dev/null, or to a
// file when `to_file` is set.
void print_plistout(benchmark::State& state, bool to_file) {
  const int saved = ::dup(STDOUT_FILENO);
  char path[] = "/tmp/records_bench.XXXXXX";
  const int fd = to_file ? ::mkstemp(path) : ::open("/dev/null", O_WRONLY);
  ::dup2(fd, STDOUT_FILENO);
  for (auto _ : state) {
    if (to_file) {
      (void)::ftruncate(STDOUT_FILENO, 0);
      ::lseek(STDOUT_FILENO, 0, SEEK_SET);
    }
    for (std::int32_t k = 1; k <= 10000; ++k) {
      records::print(records::kStdout, "plistout(", k, ")=", 1.0 / k);
    }
  }
  ::dup2(saved, STDOUT_FILENO);
  ::close(saved);
  ::close(fd);
  if (to_file) ::unlink(path);
}
void BM_Print10000PlistoutDevNull(benchmark::State& state) { print_plistout(state, false); }
void BM_Print10000PlistoutFile(benchmark::State& state) { print_plistout(state, true); }
BENCHMARK(BM_Print10000PlistoutDevNull)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Print10000PlistoutFile)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
