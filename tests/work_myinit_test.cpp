// Worker start-up (myinit) in a task that PVM did not spawn: identity, the
// parent registered as a one-member group, the task output file's name and
// its four banner lines. The banner of spawned workers is checked by the
// master's end-to-end tests.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "communicate/communicate.h"
#include "platform/host.h"
#include "tests/work_support.h"

namespace {

using test_support::TempDir;
using work_test::record;

struct NameCase {
  const char* what;
  std::string exec;
  // The file name for a task id written in decimal.
  std::string (*file_name)(const std::string& tid);
};

TEST(Myinit, NamesTheFileAfterGroupAndTaskIdAndWritesTheBanner) {
  const std::string exec25(25, 'w');
  const std::string exec27(27, 'w');
  const std::vector<NameCase> cases = {
      {"plain name", "worktest_init",
       [](const std::string& tid) { return "worktest_init_std" + tid; }},
      {"leading blanks", "  lead", [](const std::string& tid) { return "lead_std" + tid; }},
      {"25 characters", exec25,
       [](const std::string& tid) { return std::string(25, 'w') + "_std" + tid.substr(0, 1); }},
      {"27 characters", exec27, [](const std::string&) { return std::string(27, 'w') + "_st"; }},
  };
  records::NameField host;
  platform::getcompname(host, 30);

  for (const NameCase& c : cases) {
    SCOPED_TRACE(c.what);
    TempDir dir("workinit");
    test_support::PrivateVm vm({test_support::bin_dir(), dir.path(), {}});
    ASSERT_TRUE(vm.ok()) << vm.error();
    const auto run = test_support::run_program(
        {test_support::bin_dir() + "/worktest_startup", "myinit", c.exec, "WORK_OUT"}, dir.path(),
        {{"WORK_OUT", dir.file("out")}}, std::chrono::seconds(20));
    ASSERT_EQ(run.exit_status, 0) << run.out << run.err;

    const auto tid = work_test::value_after(run.out, "mytid=");
    ASSERT_TRUE(tid && *tid > 0) << run.out;
    const std::string digits = std::to_string(*tid);
    // A task that PVM did not start has no parent: PvmNoParent (-23) stands
    // in the parent group, which is the table's first entry.
    const std::string expected_out =
        "dperrno = 2 \n" + record("mytid=", static_cast<std::int32_t>(*tid)) +
        record("cmytid=", communicate::Field<10>::from(digits)) + record("entry=", 1) +
        record("nproc=", 1) + record("tid0=", -23);
    EXPECT_EQ(run.out, expected_out);

    const auto files = work_test::task_files(dir.file("out"), "");
    ASSERT_EQ(files.size(), 1u);
    const std::string name = c.file_name(digits);
    ASSERT_EQ(files.begin()->first, name);
    const std::string path = dir.file("out") + "/" + name;
    EXPECT_EQ(files.begin()->second, work_test::banner(path, host, -23));
  }
}

}  // namespace
