// torvo: the worker program of the master's population evaluation.
//
// Model: each job is one individual, the temperature (K) and density (g/cm^3)
// of each of its zones in turn (T1, rho1, ..., T10, rho10 in the master's
// run). torvo treats every zone as an ideal monatomic gas (helium) and returns
// the zone's pressure p = 1000 rho * R * T / mu (1000 rho in kg/m^3) and specific energy
// e = 3/2 * R * T / mu, in turn: p1, e1, ..., p10, e10, so 20 values for the
// master's 20. The computation lives in torvo_model.h.
//
// Life of a task (workers/torvo_run.h): myinit (group name "torvo", parent
// registered as "parent", output directory from the environment variable
// TORVO_OUT), the group's task ids with tag 1, then jobs with tag 2 until the
// stop notice; one result per job. An optional delay per job, in
// milliseconds, comes from the variable TORVO_DELAY_MS (for load tests). At
// the end the task writes the number of jobs it did to its task output file.
#include "workers/torvo_model.h"
#include "workers/torvo_run.h"

int main() { torvo::run(torvo::evaluate); }
