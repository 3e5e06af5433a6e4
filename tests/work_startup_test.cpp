// The output directory and the task output file: dir, envarc and openf
// (through the worktest_startup program, so that stops and channel files
// can be seen). No virtual machine is needed.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "communicate/communicate.h"
#include "platform/dirs.h"
#include "tests/work_support.h"

namespace {

namespace fs = std::filesystem;
using communicate::EnvField;
using communicate::NameField;
using communicate::PathField;
using test_support::read_file;
using test_support::TempDir;
using work_test::record;

// A directory path of exactly `length` characters inside `base`, ending in "/".
std::string path_of_length(const std::string& base, std::size_t length) {
  const std::size_t fill = length - base.size() - 2;
  return base + "/" + std::string(fill, 'd') + "/";
}

struct DirCase {
  std::string string1;
  std::string string2;
  std::string expected;  // before padding to 100
};

TEST(Dir, JoinsTrimmedDirectoryAndLeftAdjustedName) {
  const std::vector<DirCase> cases = {
      {"/scratch/run1/", std::string(NameField::from("torvo_std262147").view()),
       "/scratch/run1/torvo_std262147"},
      {"  /a/b/   ", "  name   ", "/a/b/name     "},
      {"      ", "  x", "x  "},
      {std::string(80, 'a'), std::string(30, 'b'), std::string(80, 'a') + std::string(20, 'b')},
  };
  for (const DirCase& c : cases) {
    const PathField path = communicate::dir(c.string1, c.string2);
    EXPECT_EQ(std::string(path.view()), std::string(PathField::from(c.expected).view()))
        << c.string1;
  }
}

struct EnvarcCase {
  const char* what;
  std::optional<std::string> value;  // none: variable unset
  std::int32_t stat;
  bool directory_kept;     // dirbuf holds the value
  std::string error_text;  // errbuf, before padding
};

TEST(Envarc, ReportsEveryOutcomeInItsFields) {
  TempDir tmp("envarc");
  const std::string existing = tmp.file("exists");
  fs::create_directory(existing);
  test_support::write_file(tmp.file("plain"), "x");
  const std::string seventy = path_of_length(tmp.path(), 70);
  fs::create_directories(seventy);

  const std::vector<EnvarcCase> cases = {
      {"existing directory", existing, 0, true, ""},
      {"created directory", tmp.file("made"), 0, true, ""},
      {"unset variable", std::nullopt, -2, false, ""},
      {"empty value", std::string(), -4, false, std::strerror(ENOENT)},
      {"regular file", tmp.file("plain"), -3, false, std::strerror(ENOTDIR)},
      {"missing parent", tmp.file("no/such"), -4, false, std::strerror(ENOENT)},
      {"70 characters", seventy, 0, true, ""},
      {"71 characters", seventy + "e", -1, false, ""},
  };
  for (const EnvarcCase& c : cases) {
    SCOPED_TRACE(c.what);
    if (c.value) {
      ::setenv("WORK_ENVARC", c.value->c_str(), 1);
    } else {
      ::unsetenv("WORK_ENVARC");
    }
    EnvField name = EnvField::from("WORK_ENVARC");
    EnvField dirbuf;
    PathField errbuf;
    std::int32_t stat = 12345;
    platform::envarc(name.chars, 11, dirbuf.chars, 70, stat, errbuf.chars, 100);
    EXPECT_EQ(stat, c.stat);
    EXPECT_EQ(name[11], '\0');  // the name is terminated in the caller's field
    const std::string dir_text = c.directory_kept ? *c.value : "";
    EXPECT_EQ(std::string(dirbuf.view()), std::string(EnvField::from(dir_text).view()));
    EXPECT_EQ(std::string(errbuf.view()), std::string(PathField::from(c.error_text).view()));
  }
  struct stat made {};
  ASSERT_EQ(::stat(tmp.file("made").c_str(), &made), 0);
  EXPECT_TRUE(S_ISDIR(made.st_mode));
  EXPECT_EQ(made.st_mode & 0077, 0u);  // created for the owner only
  EXPECT_EQ(made.st_mode & 0700, 0700u);
}

TEST(Envarc, StaysInsideFieldsThatAreShorterThanTheLengths) {
  // A name that fills its whole field has no room for the NUL; the lookup
  // still works and nothing is written past any field.
  std::array<char, 12> name{};
  std::memcpy(name.data(), "WORK_ENVARC2", 12);
  ::setenv("WORK_ENVARC2", "/", 1);
  std::array<char, 4> dirbuf{};
  std::array<char, 3> errbuf{};
  std::int32_t stat = 0;
  platform::envarc(name, 12, dirbuf, 70, stat, errbuf, 100);
  EXPECT_EQ(stat, 0);
  EXPECT_EQ(std::string(dirbuf.data(), 4), "/   ");
  EXPECT_EQ(std::string(errbuf.data(), 3), "   ");
  EXPECT_EQ(std::string(name.data(), 12), "WORK_ENVARC2");
}

// openf through the worktest_startup program, in a fresh working directory.
struct OpenfRun {
  TempDir cwd{"openf"};
  test_support::RunResult result;

  void run(const std::vector<std::pair<std::string, std::string>>& env,
           const std::string& name = "torvo_std262147", const std::string& unit = "1") {
    result = test_support::run_program(
        {test_support::bin_dir() + "/worktest_startup", "openf", unit, name, "WORK_OUT"},
        cwd.path(), env, std::chrono::seconds(20));
  }
};

struct OpenfCase {
  const char* what;
  std::string value;    // WORK_OUT; "<unset>" leaves it unset
  std::string dperrno;  // expected C stdio line on stdout, "" when none
  std::string fort99;   // expected channel-99 record, "" when none
};

TEST(Openf, RefusesEveryDirectoryFailureOnChannel99AndStopsNonZero) {
  TempDir tmp("openfdir");
  test_support::write_file(tmp.file("plain"), "x");
  const std::string seventy_one = path_of_length(tmp.path(), 70) + "e";
  const std::vector<OpenfCase> cases = {
      {"unset variable", "<unset>", "", record("ERROR - sub. openf: env. var does not exist ", -2)},
      {"empty value", "", "dperrno = 2 \n",
       record("ERROR - sub. openf:Problem mkdir ", PathField::from(std::strerror(ENOENT)), " ",
              -4)},
      {"regular file", tmp.file("plain"), "dperrno = 20 \n",
       record("ERROR - sub. openf: envarc mkdir error  ", PathField::from(std::strerror(ENOTDIR)),
              " ", -3)},
      {"missing parent", tmp.file("no/such"), "dperrno = 2 \n",
       record("ERROR - sub. openf:Problem mkdir ", PathField::from(std::strerror(ENOENT)), " ",
              -4)},
      {"71 characters", seventy_one, "",
       record("ERROR - sub. openf: incompatible string length ", -1)},
  };
  for (const OpenfCase& c : cases) {
    SCOPED_TRACE(c.what);
    OpenfRun run;
    if (c.value == "<unset>") {
      ::unsetenv("WORK_OUT");
      run.run({});
    } else {
      run.run({{"WORK_OUT", c.value}});
    }
    EXPECT_EQ(run.result.exit_status, communicate::kErrorExit);
    EXPECT_EQ(run.result.out, c.dperrno);
    EXPECT_EQ(read_file(run.cwd.file("fort.99")).value_or("<none>"), c.fort99);
    EXPECT_FALSE(fs::exists(run.cwd.file("fort.1")));
  }
}

struct OpenedCase {
  const char* what;
  std::string value;      // WORK_OUT
  std::string directory;  // where the file must be
  std::string dperrno;    // expected stdout before the program's own record
};

TEST(Openf, OpensTheFileInTheDirectoryAndConfirmsOnChannel1) {
  TempDir tmp("openfok");
  fs::create_directory(tmp.file("exists"));
  const std::string seventy = path_of_length(tmp.path(), 70);
  fs::create_directories(seventy);
  const std::vector<OpenedCase> cases = {
      {"existing directory", tmp.file("exists"), tmp.file("exists") + "/", ""},
      {"trailing slash", tmp.file("exists") + "/", tmp.file("exists") + "/", ""},
      {"created directory", tmp.file("made"), tmp.file("made") + "/", "dperrno = 2 \n"},
      {"70 characters ending in a slash", seventy, seventy, ""},
  };
  for (const OpenedCase& c : cases) {
    SCOPED_TRACE(c.what);
    OpenfRun run;
    run.run({{"WORK_OUT", c.value}});
    EXPECT_EQ(run.result.exit_status, 0) << run.result.err;
    // The variable's field holds a NUL right after the name WORK_OUT.
    EXPECT_EQ(run.result.out, c.dperrno + record("NUL at=", 9));
    const std::string path = c.directory + "torvo_std262147";
    EXPECT_EQ(read_file(path).value_or("<none>"),
              record("FILE OPENED:", PathField::from(path)) + record("after openf"));
    EXPECT_FALSE(fs::exists(run.cwd.file("fort.99")));
  }
  struct stat made {};
  ASSERT_EQ(::stat(tmp.file("made").c_str(), &made), 0);
  EXPECT_EQ(made.st_mode & 0077, 0u);  // created for the owner only
  EXPECT_EQ(made.st_mode & 0700, 0700u);
}

TEST(Openf, RefusesAFileThatCannotBeOpenedOnChannel1) {
  TempDir tmp("openfbad");
  // A directory where the file should be: opening it for writing fails.
  fs::create_directories(tmp.file("torvo_std262147"));
  OpenfRun run;
  run.run({{"WORK_OUT", tmp.path()}});
  EXPECT_EQ(run.result.exit_status, communicate::kErrorExit);
  const std::string path = tmp.path() + "/torvo_std262147";
  EXPECT_EQ(read_file(run.cwd.file("fort.1")).value_or("<none>"),
            record("ERROR - sub. openf opening file ", PathField::from(path)));
  EXPECT_EQ(run.result.out, "");
}

TEST(Openf, OpensAnyChannelButConfirmsOnChannel1) {
  TempDir tmp("openfunit");
  OpenfRun run;
  run.run({{"WORK_OUT", tmp.path()}}, "unit7", "7");
  EXPECT_EQ(run.result.exit_status, 0) << run.result.err;
  const std::string path = tmp.path() + "/unit7";
  // Channel 1 is not open: its records go to fort.1 of the working directory.
  EXPECT_EQ(read_file(run.cwd.file("fort.1")).value_or("<none>"),
            record("FILE OPENED:", PathField::from(path)) + record("after openf"));
  EXPECT_EQ(read_file(path).value_or("<none>"), "");
}

}  // namespace
