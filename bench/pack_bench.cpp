// Packing and unpacking one job message (int 1, int 20, 20 doubles, XDR):
// the communicate library's helpers (pk_i1/pk_rn, upk_i1/upk_rn) against the
// raw pvm_pk*/pvm_upk* calls they stand for.
//
// libpvm3 joins a virtual machine on its first call (pvm_initsend included)
// and retries for ever without one, so the benchmark starts a private
// one-host virtual machine of its own for the duration of the run.
//
// A PVM buffer is unpacked only once, so the unpacking cost is measured as
// pack + unpack of a fresh buffer (the packed send buffer is detached and made
// the receive buffer); the unpacking alone is the difference to the
// pack-only benchmark.
// BM_SendRecvSelf adds the trip through the daemon: send to the own task id
// and receive it, the floor under every job and result message.
#include <benchmark/benchmark.h>
#include <pvm3.h>

#include <array>
#include <cstdint>
#include <cstdio>

#include "bench/bench_vm.h"
#include "communicate/communicate.h"

namespace {

constexpr int kCount = 20;
std::array<double, kCount> job_values{};

void fill_values() {
  for (int i = 0; i < kCount; ++i) job_values[static_cast<std::size_t>(i)] = 1500.0 + 0.25 * i;
}

void pack_raw() {
  int go = 1;
  int count = kCount;
  pvm_initsend(PvmDataDefault);
  pvm_pkint(&go, 1, 1);
  pvm_pkint(&count, 1, 1);
  pvm_pkdouble(job_values.data(), count, 1);
}

void pack_library() {
  communicate::state().pkset = 0;  // as after destin: the next pack starts a new message
  communicate::pk_i1(1);
  communicate::pk_rn(job_values, kCount);
}

// Unpacks a job message from the active receive buffer; true when it is intact.
bool unpack_raw(std::array<double, kCount>& out) {
  int go = 0;
  int count = 0;
  pvm_upkint(&go, 1, 1);
  pvm_upkint(&count, 1, 1);
  pvm_upkdouble(out.data(), count, 1);
  return go == 1 && count == kCount;
}

bool unpack_library(std::array<double, kCount>& out) {
  std::int32_t go = 0;
  std::int32_t count = 0;
  communicate::upk_i1(go);
  communicate::upk_rn(out, count);
  return go == 1 && count == kCount;
}

void BM_PackJob_Raw(benchmark::State& state) {
  for (auto _ : state) pack_raw();
}
BENCHMARK(BM_PackJob_Raw);

void BM_PackJob_Library(benchmark::State& state) {
  for (auto _ : state) pack_library();
}
BENCHMARK(BM_PackJob_Library);

template <void (*Pack)(), bool (*Unpack)(std::array<double, kCount>&)>
void pack_unpack(benchmark::State& state) {
  std::array<double, kCount> out{};
  bool intact = true;
  for (auto _ : state) {
    Pack();
    // The packed buffer becomes the receive buffer; the previous one is freed.
    pvm_freebuf(pvm_setrbuf(pvm_setsbuf(0)));
    intact = Unpack(out) && intact;
    benchmark::DoNotOptimize(out.data());
  }
  if (!intact || out != job_values)
    state.SkipWithError("unpacked message differs from the packed one");
}
BENCHMARK(pack_unpack<pack_raw, unpack_raw>)->Name("BM_PackUnpackJob_Raw");
BENCHMARK(pack_unpack<pack_library, unpack_library>)->Name("BM_PackUnpackJob_Library");

void BM_SendRecvSelf(benchmark::State& state) {
  const int me = pvm_mytid();
  std::array<double, kCount> out{};
  bool intact = true;
  for (auto _ : state) {
    pack_raw();
    pvm_send(me, 2);
    pvm_recv(me, 2);
    intact = unpack_raw(out) && intact;
  }
  if (!intact || out != job_values)
    state.SkipWithError("received message differs from the sent one");
}
BENCHMARK(BM_SendRecvSelf);

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  fill_values();
  int status = 0;
  {
    test_support::PrivateVm vm;
    if (!vm.ok()) {
      std::fprintf(stderr, "pack_bench: %s\n", vm.error().c_str());
      status = 1;
    } else if (pvm_mytid() < 0) {
      std::fprintf(stderr, "pack_bench: cannot join the private virtual machine\n");
      status = 1;
    } else {
      benchmark::RunSpecifiedBenchmarks();
      pvm_exit();
    }
  }
  benchmark::Shutdown();
  return status;
}
