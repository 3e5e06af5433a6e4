// pvm_probe: exits 0 when a PVM daemon is running for this user (in
// $PVM_TMP, or /tmp), 1 when none answers. It never starts a daemon.
#include <pvm3.h>

int main() {
  pvm_setopt(PvmAutoErr, 0);
  const int tid = pvm_mytid();
  if (tid < 0) return 1;
  pvm_exit();
  return 0;
}
