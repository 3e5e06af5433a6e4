// The master-side group exchanges (x_sdat_c, x_rdat_c, x_sflg_c, x_riflg_c)
// and their worker-side counterparts, against three real worktest_worker
// tasks running the "group" script on a private virtual machine.
#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "communicate/communicate.h"
#include "tests/work_support.h"

namespace {

using work_test::record;

// The values of the records of `text` that begin with `label`, in order.
std::vector<long> values_after(const std::string& text, const std::string& label) {
  std::vector<long> values;
  for (const std::string& line : work_test::lines(text)) {
    const auto w = work_test::words(line);
    if (w.size() == 2 && w[0] == label) values.push_back(std::stol(w[1]));
  }
  return values;
}

TEST(GroupExchange, SlicesResultsFlagsRollCallAndStopByMemberIndex) {
  work_test::WorkerBed bed("workgrp", {{"WORKTEST_SCRIPT", "group"}});
  ASSERT_TRUE(bed.vm.ok()) << bed.vm.error();
  const auto run = bed.master({"group", "3"});
  ASSERT_EQ(run.exit_status, 0) << run.out << run.err;

  // Member k's result is its slice times 10, stored by member index; the
  // position after the three slices stays untouched.
  std::string expected = record("rcv_c=", 4);
  for (int k = 1; k <= 12; ++k) expected += record("r8_frm_c(", k, ")=", 10.0 * k);
  expected += record("r8_frm_c(", 13, ")=", 0.0);
  EXPECT_EQ(run.out, expected);

  const std::string trace = bed.fort1();
  // Results are received in arrival order: member 2 answers first, member 0 last.
  std::vector<long> arrivals;
  for (const std::string& line : work_test::lines(trace)) {
    const auto w = work_test::words(line);
    if (w.size() == 4 && w[0] == "rcv" && w[1] == "from" && w[2] == "=")
      arrivals.push_back(std::stol(w[3]));
  }
  EXPECT_EQ(arrivals, (std::vector<long>{2, 1, 0}));
  // The roll call releases one member at a time in index order, although
  // later members answer faster.
  EXPECT_EQ(values_after(trace, "who="), (std::vector<long>{0, 1, 2}));

  ASSERT_TRUE(work_test::wait_for(
      [&] { return work_test::files_all_contain(bed.workers(), 3, " istat=           0"); }));
  for (const auto& [name, text] : bed.workers()) {
    SCOPED_TRACE(name);
    const auto me = work_test::value_after(text, "me=");
    ASSERT_TRUE(me);
    const int k = static_cast<int>(*me);
    // The data slice (flag 1, count 4, positions 4k+1 .. 4k+4); position 5
    // keeps what the worker put there. The flag with tag 3, sent before the
    // slice, waited in the queue for its own receive.
    std::string expected_log = record("istat=", 1, " rcv_p=", 4);
    for (int v = 1; v <= 4; ++v) expected_log += record("value", v, 4.0 * k + v);
    expected_log += record("value", 5, -7.0);
    expected_log += record("flg=", 5);
    // The closing message with flag 0 leaves rcv_p and the values as they were.
    expected_log += record("istat=", 0, " rcv_p=", 4, " first=", 4.0 * k + 1);
    EXPECT_NE(text.find(expected_log), std::string::npos) << text;
  }
}

struct GatherCase {
  const char* what;
  std::vector<std::string> args;  // worktest_master arguments
  std::string stdout_text;        // what the master prints
  std::string last_trace;         // the last record of its fort.1
  int exit_status;
};

// x_sdat_c and x_rdat_c with workers of the job script: results are filed by
// the member index they carry, and what would not fit the buffers is refused
// on channel 1 with the workers killed.
TEST(GroupExchange, GathersByMemberIndexAndRefusesWhatDoesNotFit) {
  const std::vector<GatherCase> cases = {
      {"results by member index, the last member answering first",
       {"gather", "3", "5", "300,2", "150,2", "0,2"},
       record("r8_frm_c(", 1, ")=", 1.0) + record("r8_frm_c(", 2, ")=", 0.0) +
           record("r8_frm_c(", 3, ")=", 2.0) + record("r8_frm_c(", 4, ")=", 1.0) +
           record("r8_frm_c(", 5, ")=", 3.0) + record("r8_frm_c(", 6, ")=", 2.0),
       record("rcv from =", 0),
       0},
      {"member index outside the group",
       {"gather", "3", "5", "300,2", "0,2,7", "300,2"},
       "",
       record("ERROR x_rdat_c: member index outside the group, who=", 7),
       communicate::kErrorExit},
      {"negative member index",
       {"gather", "3", "5", "300,2", "0,2,-1", "300,2"},
       "",
       record("ERROR x_rdat_c: member index outside the group, who=", -1),
       communicate::kErrorExit},
      {"result slot past the buffer",
       {"gather", "3", "5", "300,2", "0,6000", "300,2"},
       "",
       record("ERROR x_rdat_c: result does not fit r8_frm_c, rcv_c=", 6000),
       communicate::kErrorExit},
      {"slices past the buffer",
       {"gather", "3", "5000"},
       "",
       record("ERROR x_sdat_c: slices pass 10000 positions, snd_c=", 5000),
       communicate::kErrorExit},
  };
  for (const GatherCase& c : cases) {
    SCOPED_TRACE(c.what);
    work_test::WorkerBed bed("workgat", {});
    ASSERT_TRUE(bed.vm.ok()) << bed.vm.error();
    const auto run = bed.master(c.args);
    EXPECT_EQ(run.exit_status, c.exit_status) << run.out << run.err;
    EXPECT_EQ(run.out, c.stdout_text);
    EXPECT_TRUE(bed.fort1().ends_with(c.last_trace));
    EXPECT_TRUE(bed.no_worker_left());
  }
}

}  // namespace
