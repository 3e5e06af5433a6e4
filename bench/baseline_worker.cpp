// baseline_worker: the worker of the bare PVM farm, written directly on
// libpvm3. It takes the task-id list (count, ids; tag 1) from its parent and
// finds its member index in it, then answers every job (int 1, int n,
// n doubles; tag 2) with a result (int member, int n, the same n doubles)
// without computing, until the stop notice (int 0). It opens no file and
// prints nothing; it ends without leaving the virtual machine explicitly.
#include <pvm3.h>

#include <array>

namespace {

constexpr int kTidTag = 1;
constexpr int kJobTag = 2;
constexpr int kMaxTids = 33;
constexpr int kMaxValues = 10000;

std::array<int, kMaxTids> ids{};
std::array<double, kMaxValues> values{};

}  // namespace

int main() {
  const int mytid = pvm_mytid();
  const int parent = pvm_parent();
  pvm_recv(parent, kTidTag);
  int count = 0;
  pvm_upkint(&count, 1, 1);
  if (count < 0 || count > kMaxTids) return 1;
  pvm_upkint(ids.data(), count, 1);
  int me = 0;
  for (int i = 0; i < count; ++i) {
    if (ids[static_cast<std::size_t>(i)] == mytid) me = i;
  }
  for (;;) {
    pvm_recv(parent, kJobTag);
    int go = 0;
    pvm_upkint(&go, 1, 1);
    if (go == 0) break;
    int n = 0;
    pvm_upkint(&n, 1, 1);
    if (n < 0 || n > kMaxValues) return 1;
    pvm_upkdouble(values.data(), n, 1);
    pvm_initsend(PvmDataDefault);
    pvm_pkint(&me, 1, 1);
    pvm_pkint(&n, 1, 1);
    pvm_pkdouble(values.data(), n, 1);
    pvm_send(parent, kJobTag);
  }
  return 0;
}
