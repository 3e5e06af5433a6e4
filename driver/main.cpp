// The master program: assembles the population from seq_d.in and seq_t.in
// in the working directory and prints the parameter list. Exit status 0 at
// the normal end, 2 after refused input.
#include "driver/driver.h"
#include "driver/subq.h"
#include "records/channels.h"

int main() {
  driver::DriverState& d = driver::state();
  driver::assemble_population(d);
  driver::print_plistin(d);
  driver::subq(d.ipopsize, d.nin, d.nout, d.plistin, d.plistout);
  driver::print_plistout(d);
  records::close_all();
  return 0;
}
