// The master's front end: the input reader, population assembly, and the
// standard output and refusals of the real master program, run in a private
// virtual machine on small seq_d.in / seq_t.in files.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include <gtest/gtest.h>

#include "driver/driver.h"
#include "driver/input.h"
#include "records/format.h"
#include "tests/support/private_vm.h"
#include "tests/support/record_text.h"

#ifndef DRIVER_EXAMPLES_DIR
#error "DRIVER_EXAMPLES_DIR must name the directory of the bundled example input"
#endif

namespace {

using driver::ReadStatus;
using test_support::read_file;
using test_support::write_file;

// ---- Expected output, laid out by the record layer ----

using test_support::index_line;
using test_support::record;

// A table record: its name and its 10 values (those not given are zero).
std::string table(std::string_view name, const std::array<double, driver::kTableLimit>& values) {
  return test_support::record_of(name, values);
}

std::string ict(std::int32_t n) {
  return record("ict=", n);
}
std::string ipopsize(std::int32_t n) {
  return record("ipopsize=", n);
}
std::string plistin(std::int32_t k, double value) {
  return record("plistin(", k, ")=", value);
}

// An index line of ten equal values.
std::string same_index(std::int32_t v) {
  std::array<std::int32_t, records::kIndexValues> values{};
  values.fill(v);
  return index_line(values);
}

// plistin records 1, 2, ... of the given values.
std::string plistin_list(const std::vector<double>& values) {
  std::string s;
  for (std::size_t k = 1; k <= values.size(); ++k) {
    s += plistin(static_cast<std::int32_t>(k), values[k - 1]);
  }
  return s;
}

// plistin records of n individuals (20 values each), alternating `odd` and `even` values.
std::string alternating(int n, double odd, double even) {
  std::string s;
  for (int k = 1; k <= 20 * n; ++k) s += plistin(k, k % 2 == 1 ? odd : even);
  return s;
}

// Standard output up to the front end's end: everything before the first line
// of the evaluation (stop notices, result records, trap records).
std::string front_end(const std::string& out) {
  std::size_t start = 0;
  while (start < out.size()) {
    const std::string_view line = std::string_view(out).substr(start);
    if (line.starts_with(" Kill notice") || line.starts_with(" plistout(") ||
        line.starts_with(" ERROR")) {
      return out.substr(0, start);
    }
    const std::size_t end = out.find('\n', start);
    if (end == std::string::npos) break;
    start = end + 1;
  }
  return out;
}

TEST(FrontEndCut, StopsBeforeTheFirstEvaluationLine) {
  EXPECT_EQ(front_end(" ict=\n plistin(1\n Kill notice x\n plistout(1\n"), " ict=\n plistin(1\n");
  EXPECT_EQ(front_end(" a\n plistout(  1\n"), " a\n");
  EXPECT_EQ(front_end(" a\n ERROR in queue\n b\n"), " a\n");
  EXPECT_EQ(front_end(" a\n  ERROR\n"), " a\n  ERROR\n");
  EXPECT_EQ(front_end(""), "");
}

// ---- Input reader ----

enum class Ask { integers, reals };

struct Step {
  Ask ask;
  int count;
  ReadStatus status;
  std::vector<double> values;  // the values delivered
  int line;
  std::string problem = {};
};

struct ReaderCase {
  std::string name;
  std::string text;
  std::vector<Step> steps;
};

constexpr double kUntouched = -7.0;  // what an entry holds before a read

void run_reader_case(const ReaderCase& c) {
  SCOPED_TRACE(c.name);
  test_support::TempDir dir("driver_reader");
  write_file(dir.file("in"), c.text);
  driver::InputFile input;
  ASSERT_EQ(input.open(dir.file("in").c_str()), std::nullopt);
  for (std::size_t s = 0; s < c.steps.size(); ++s) {
    const Step& step = c.steps[s];
    SCOPED_TRACE("read " + std::to_string(s + 1));
    const auto n = static_cast<std::size_t>(step.count);
    std::vector<double> got(n, kUntouched);
    driver::ReadResult r;
    if (step.ask == Ask::integers) {
      std::vector<std::int32_t> ints(n, static_cast<std::int32_t>(kUntouched));
      r = input.read_integers(ints);
      for (std::size_t i = 0; i < n; ++i) got[i] = ints[i];
    } else {
      r = input.read_reals(got);
    }
    EXPECT_EQ(r.status, step.status);
    EXPECT_EQ(r.line, step.line);
    EXPECT_EQ(r.problem, step.problem);
    EXPECT_EQ(r.delivered, static_cast<int>(step.values.size()));
    std::vector<double> expected = step.values;
    expected.resize(n, kUntouched);
    EXPECT_EQ(got, expected);
  }
}

TEST(InputReader, ReadsValuesLineByLine) {
  using enum Ask;
  const std::vector<ReaderCase> cases = {
      {"values across lines; the rest of the last line is left unread",
       "1 2\n3 4 junk\n5\n",
       {{integers, 3, ReadStatus::complete, {1, 2, 3}, 2},
        {integers, 1, ReadStatus::complete, {5}, 3},
        {integers, 1, ReadStatus::end_of_file, {}, 4},
        {integers, 1, ReadStatus::end_of_file, {}, 4}}},
      {"blanks, tabs, carriage returns and single commas separate values",
       "1,2\t3\r\n 4 , 5,\n6\n7\n,8\n",
       {{integers, 6, ReadStatus::complete, {1, 2, 3, 4, 5, 6}, 3},
        {integers, 2, ReadStatus::complete, {7, 8}, 5}}},
      {"blank lines inside a read are passed over",
       "\n\n \t\r\n1\n\n2\n",
       {{integers, 2, ReadStatus::complete, {1, 2}, 6}}},
      {"a read of no values uses up one line",
       "0 junk\nnot read\n5\n",
       {{integers, 1, ReadStatus::complete, {0}, 1},
        {reals, 0, ReadStatus::complete, {}, 2},
        {integers, 1, ReadStatus::complete, {5}, 3}}},
      {"a read of no values at the end of the file",
       "",
       {{reals, 0, ReadStatus::end_of_file, {}, 1}}},
      {"the end of the file inside a read keeps what was delivered",
       "1 2\n",
       {{integers, 3, ReadStatus::end_of_file, {1, 2}, 2}}},
      {"a last line without a line end",
       "1 2",
       {{integers, 2, ReadStatus::complete, {1, 2}, 1},
        {integers, 1, ReadStatus::end_of_file, {}, 2}}},
      {"plain and exponent forms of reals; an underflow reads as zero",
       "1.5 -2 .5 3. 1e3 2.5D-1 +7 -4d0 1E+2 6.02e23 1e-400\n",
       {{reals, 11, ReadStatus::complete, {1.5, -2, .5, 3, 1000, .25, 7, -4, 100, 6.02e23, 0}, 1}}},
      {"32-bit integers with signs and leading zeros",
       "2147483647 -2147483648 +5 007 -0\n",
       {{integers, 5, ReadStatus::complete, {2147483647, -2147483648.0, 5, 7, 0}, 1}}},
      {"a comma at the start of a line after a value is a separator",
       "1\n,2\n",
       {{integers, 2, ReadStatus::complete, {1, 2}, 2}}},
      {"a comma before the first value is an empty value",
       ",1\n",
       {{reals, 1, ReadStatus::error, {}, 1, "empty value before a comma"}}},
      {"two commas hold an empty value",
       "1,,2\n",
       {{integers, 3, ReadStatus::error, {1}, 1, "empty value before a comma"}}},
      {"two commas across a line end hold an empty value",
       "1,\n,2\n",
       {{integers, 2, ReadStatus::error, {1}, 2, "empty value before a comma"}}},
  };
  for (const auto& c : cases) run_reader_case(c);
}

struct BadValue {
  std::string text;
  Ask ask;
  std::string problem;
};

TEST(InputReader, RefusesWhatIsNotANumberOfTheKindRead) {
  using enum Ask;
  const std::vector<BadValue> cases = {
      {"1.0", integers, "\"1.0\" is not an integer"},
      {"1e3", integers, "\"1e3\" is not an integer"},
      {"1d0", integers, "\"1d0\" is not an integer"},
      {"abc", integers, "\"abc\" is not a number"},
      {"--5", integers, "\"--5\" is not a number"},
      {"5-", integers, "\"5-\" is not a number"},
      {"+", integers, "\"+\" is not a number"},
      {"2147483648", integers, "\"2147483648\" is out of range"},
      {"-2147483649", integers, "\"-2147483649\" is out of range"},
      {"1.5.2", reals, "\"1.5.2\" is not a number"},
      {"e3", reals, "\"e3\" is not a number"},
      {"1e", reals, "\"1e\" is not a number"},
      {"1e+", reals, "\"1e+\" is not a number"},
      {".", reals, "\".\" is not a number"},
      {"-", reals, "\"-\" is not a number"},
      {"0x10", reals, "\"0x10\" is not a number"},
      {"inf", reals, "\"inf\" is not a number"},
      {"nan", reals, "\"nan\" is not a number"},
      {"3*1.5", reals, "\"3*1.5\" is not a number"},
      {"/", reals, "\"/\" is not a number"},
      {"1.5x", reals, "\"1.5x\" is not a number"},
      {"1e400", reals, "\"1e400\" is out of range"},
      {"-1D400", reals, "\"-1D400\" is out of range"},
      {"12345678901234567890123456789012345678901234567890x", reals,
       "\"1234567890123456789012345678901234567890...\" is not a number"},
  };
  for (const auto& c : cases) {
    run_reader_case({"value " + c.text,
                     "7\n" + c.text + " 8\n",
                     {{c.ask, 3, ReadStatus::error, {7}, 2, c.problem}}});
  }
}

TEST(InputReader, ReportsTheLineOfEveryIntegerDelivered) {
  test_support::TempDir dir("driver_reader");
  write_file(dir.file("in"), "1 2\n\n3\n");
  driver::InputFile input;
  ASSERT_EQ(input.open(dir.file("in").c_str()), std::nullopt);
  std::array<std::int32_t, 3> values{};
  std::array<int, 3> lines{};
  const auto r = input.read_integers(values, lines);
  EXPECT_EQ(r.status, ReadStatus::complete);
  EXPECT_EQ(lines, (std::array<int, 3>{1, 1, 3}));
}

TEST(InputReader, ReportsFilesThatCannotBeOpenedOrRead) {
  test_support::TempDir dir("driver_reader");
  driver::InputFile input;
  EXPECT_EQ(input.open(dir.file("missing").c_str()),
            std::optional<std::string>("cannot be opened: No such file or directory"));

  ASSERT_EQ(::mkdir(dir.file("sub").c_str(), 0755), 0);
  ASSERT_EQ(input.open(dir.file("sub").c_str()), std::nullopt);
  std::array<double, 1> value{kUntouched};
  const auto r = input.read_reals(value);
  EXPECT_EQ(r.status, ReadStatus::error);
  EXPECT_EQ(r.line, 1);
  EXPECT_EQ(r.problem, "cannot be read: Is a directory");
  EXPECT_EQ(value[0], kUntouched);
}

// ---- Population assembly and list printing, in this process ----

// What `f` writes to standard output (file descriptor 1).
std::string capture_stdout(const std::function<void()>& f) {
  test_support::TempDir dir("driver_capture");
  const std::string path = dir.file("out");
  std::fflush(stdout);
  const int saved = ::dup(STDOUT_FILENO);
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  ::dup2(fd, STDOUT_FILENO);
  ::close(fd);
  f();
  std::fflush(stdout);
  ::dup2(saved, STDOUT_FILENO);
  ::close(saved);
  return read_file(path).value_or("");
}

TEST(Assembly, FillsTheBlockAfterTheLastIndividualFromAnExtraTemperatureRecord) {
  test_support::TempDir dir("driver_assembly");
  write_file(dir.file("seq_d.in"), "1\n2.0\n1 1 1 1 1 1 1 1 1 1\n");
  write_file(dir.file("seq_t.in"), "2\n100.0 200.0\n1 1 1 1 1 1 1 1 1 1\n2 1 2 1 2 1 2 1 2 1\n");
  const std::string here = std::filesystem::current_path().string();
  std::filesystem::current_path(dir.path());
  auto d = std::make_unique<driver::DriverState>();
  capture_stdout([&] { driver::assemble_population(*d); });
  std::filesystem::current_path(here);

  EXPECT_EQ(d->ipopsize, 1);
  EXPECT_EQ(d->nin, 20);
  EXPECT_EQ(d->ict, 2);
  for (int z = 1; z <= 10; ++z) {
    SCOPED_TRACE("zone " + std::to_string(z));
    EXPECT_EQ(d->plistin[2 * z - 1], 100.0);
    EXPECT_EQ(d->plistin[2 * z], 2.0);
    EXPECT_EQ(d->plistin[20 + 2 * z - 1], z % 2 == 1 ? 200.0 : 100.0);  // temperatures only
    EXPECT_EQ(d->plistin[20 + 2 * z], 0.0);
  }
}

TEST(ResultList, PrintsNoutValuesPerIndividual) {
  auto d = std::make_unique<driver::DriverState>();
  d->ipopsize = 2;
  d->nout = 2;
  for (int k = 1; k <= 5; ++k) d->plistout[k] = 0.5 * k;
  EXPECT_EQ(capture_stdout([&] { driver::print_plistout(*d); }),
            record("plistout(", 1, ")=", 0.5) + record("plistout(", 2, ")=", 1.0) +
                record("plistout(", 3, ")=", 1.5) + record("plistout(", 4, ")=", 2.0));
}

TEST(ResultListDeathTest, RefusesAListBeyondTheBuffer) {
  auto d = std::make_unique<driver::DriverState>();
  d->ipopsize = 3;
  d->nout = 3334;
  EXPECT_EXIT(driver::print_plistout(*d), testing::ExitedWithCode(2),
              "master: the result list of 10002 values exceeds 10000 positions");
}

// ---- The master program ----

// Contents of one input file, or its absence, or a directory in its place.
struct Input {
  enum class Kind { text, missing, directory } kind = Kind::text;
  std::string text;
};
Input text(std::string t) {
  return {Input::Kind::text, std::move(t)};
}
Input missing() {
  return {Input::Kind::missing, {}};
}
Input directory() {
  return {Input::Kind::directory, {}};
}

void place(const test_support::TempDir& dir, const std::string& name, const Input& input) {
  switch (input.kind) {
    case Input::Kind::text:
      write_file(dir.file(name), input.text);
      break;
    case Input::Kind::directory:
      ::mkdir(dir.file(name).c_str(), 0755);
      break;
    case Input::Kind::missing:
      break;
  }
}

// Options of a virtual machine whose torvo tasks can start: they write their
// task output files into the directory named by TORVO_OUT (and stop without it).
test_support::VmOptions torvo_vm() {
  static const test_support::TempDir out("driver_torvo");
  return {"", out.path(), {{"TORVO_OUT", out.path()}}};
}

// Runs build/bin/master in a fresh directory holding the two input files.
test_support::RunResult run_master(const Input& density, const Input& temperature) {
  test_support::TempDir dir("driver_run");
  place(dir, "seq_d.in", density);
  place(dir, "seq_t.in", temperature);
  return test_support::run_program({test_support::bin_dir() + "/master"}, dir.path());
}

const std::string kWorkedDensity = "3\n1.5 2.5 3.5\n1 2 3 1 2 3 1 2 3 1\n3 3 3 3 3 3 3 3 3 3\n";
const std::string kWorkedTemperature = "2\n300.0 400.0\n2 2 2 2 2 1 1 1 1 1\n1 1 1 1 1 1 1 1 1 1\n";

const std::string kWorkedOutput =
    " densarray=   1.50000000000000        2.50000000000000     \n"
    "   3.50000000000000        0.00000000000000D+000   0.00000000000000D+000\n"
    "   0.00000000000000D+000   0.00000000000000D+000   0.00000000000000D+000\n"
    "   0.00000000000000D+000   0.00000000000000D+000\n"
    " temparray=   300.000000000000        400.000000000000     \n"
    "   0.00000000000000D+000   0.00000000000000D+000   0.00000000000000D+000\n"
    "   0.00000000000000D+000   0.00000000000000D+000   0.00000000000000D+000\n"
    "   0.00000000000000D+000   0.00000000000000D+000\n"
    " ict=           1\n"
    "   2   2   2   2   2   1   1   1   1   1\n"
    "   1   2   3   1   2   3   1   2   3   1\n"
    " ict=           2\n"
    "   1   1   1   1   1   1   1   1   1   1\n"
    "   3   3   3   3   3   3   3   3   3   3\n"
    " ict=           3\n"
    "   1   1   1   1   1   1   1   1   1   1\n"
    "   3   3   3   3   3   3   3   3   3   3\n"
    " ipopsize=           2\n"
    " plistin(           1 )=   400.000000000000     \n"
    " plistin(           2 )=   1.50000000000000     \n"
    " plistin(           3 )=   400.000000000000     \n"
    " plistin(           4 )=   2.50000000000000     \n"
    " plistin(           5 )=   400.000000000000     \n"
    " plistin(           6 )=   3.50000000000000     \n"
    " plistin(           7 )=   400.000000000000     \n"
    " plistin(           8 )=   1.50000000000000     \n"
    " plistin(           9 )=   400.000000000000     \n"
    " plistin(          10 )=   2.50000000000000     \n"
    " plistin(          11 )=   300.000000000000     \n"
    " plistin(          12 )=   3.50000000000000     \n"
    " plistin(          13 )=   300.000000000000     \n"
    " plistin(          14 )=   1.50000000000000     \n"
    " plistin(          15 )=   300.000000000000     \n"
    " plistin(          16 )=   2.50000000000000     \n"
    " plistin(          17 )=   300.000000000000     \n"
    " plistin(          18 )=   3.50000000000000     \n"
    " plistin(          19 )=   300.000000000000     \n"
    " plistin(          20 )=   1.50000000000000     \n"
    " plistin(          21 )=   300.000000000000     \n"
    " plistin(          22 )=   3.50000000000000     \n"
    " plistin(          23 )=   300.000000000000     \n"
    " plistin(          24 )=   3.50000000000000     \n"
    " plistin(          25 )=   300.000000000000     \n"
    " plistin(          26 )=   3.50000000000000     \n"
    " plistin(          27 )=   300.000000000000     \n"
    " plistin(          28 )=   3.50000000000000     \n"
    " plistin(          29 )=   300.000000000000     \n"
    " plistin(          30 )=   3.50000000000000     \n"
    " plistin(          31 )=   300.000000000000     \n"
    " plistin(          32 )=   3.50000000000000     \n"
    " plistin(          33 )=   300.000000000000     \n"
    " plistin(          34 )=   3.50000000000000     \n"
    " plistin(          35 )=   300.000000000000     \n"
    " plistin(          36 )=   3.50000000000000     \n"
    " plistin(          37 )=   300.000000000000     \n"
    " plistin(          38 )=   3.50000000000000     \n"
    " plistin(          39 )=   300.000000000000     \n"
    " plistin(          40 )=   3.50000000000000     \n";

// Runs that get through the input: the front end of standard output, exit status 0.
struct AcceptedCase {
  std::string name;
  Input density;
  Input temperature;
  std::string out;
};

void expect_accepted(const AcceptedCase& c) {
  SCOPED_TRACE(c.name);
  const auto r = run_master(c.density, c.temperature);
  EXPECT_FALSE(r.timed_out);
  EXPECT_EQ(r.exit_status, 0) << r.err;
  EXPECT_EQ(r.err.find("master:"), std::string::npos) << r.err;
  EXPECT_EQ(front_end(r.out), c.out);
}

// Runs refused for their input: the whole standard output, the diagnostic, status 2.
struct RefusedCase {
  std::string name;
  Input density;
  Input temperature;
  std::string out;
  std::string err;
};

void expect_refused(const RefusedCase& c) {
  SCOPED_TRACE(c.name);
  const auto r = run_master(c.density, c.temperature);
  EXPECT_FALSE(r.timed_out);
  EXPECT_EQ(r.exit_status, 2);
  EXPECT_EQ(r.out, c.out);
  EXPECT_EQ(r.err, c.err);
}

// Runs of the master program, each in a private virtual machine of its own.
class Master : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(vm.ok()) << vm.error(); }

  test_support::PrivateVm vm{torvo_vm()};
};

TEST_F(Master, PrintsTheWorkedExample) {
  expect_accepted(
      {"worked example", text(kWorkedDensity), text(kWorkedTemperature), kWorkedOutput});
}

TEST_F(Master, AssemblesThePopulation) {
  const std::string ones = "1 1 1 1 1 1 1 1 1 1\n";
  const std::vector<AcceptedCase> cases = {
      {"commas, tabs, CR line ends, exponent forms, values across lines, rest of a line",
       text("3 count line rest\r\n1.5D0,25E-1,\t.35e1\r\n1,2,3,1,2,3,1,2,3,1\r\n3 3 3 3 3\r\n"
            "\r\n3 3 3 3 3 trailing words"),
       text("2\t\n300.0, 4.0e2, 99 not read\n2\t2\t2\t2\t2\t1\t1\t1\t1\t1\n"
            "1,1,1,1,1,1,1,1,1,1,\n"),
       kWorkedOutput},
      {"seq_d.in shorter than seq_t.in", text("1\n2.0\n" + ones),
       text("2\n100.0 200.0\n" + ones + "2 2 2 2 2 2 2 2 2 2\n"),
       table("densarray=", {2.0}) + table("temparray=", {100.0, 200.0}) + ict(1) + same_index(1) +
           same_index(1) + ict(2) + same_index(2) + same_index(1) + ipopsize(1) +
           alternating(1, 100.0, 2.0)},
      {"short final index records in both files; an index to an unread entry gives 0.0",
       text("2\n1.0 2.0\n1 2 1 2 1 2 1 2 1 10\n2 99\n"), text("1\n100.0\n" + ones + "5 5\n"),
       table("densarray=", {1.0, 2.0}) + table("temparray=", {100.0}) + ict(1) + same_index(1) +
           index_line({1, 2, 1, 2, 1, 2, 1, 2, 1, 10}) + ict(2) +
           index_line({5, 5, 1, 1, 1, 1, 1, 1, 1, 1}) +
           index_line({2, 99, 1, 2, 1, 2, 1, 2, 1, 10}) + ipopsize(1) +
           plistin_list({100.0, 1.0, 100.0, 2.0, 100.0, 1.0, 100.0, 2.0, 100.0, 1.0,
                         100.0, 2.0, 100.0, 1.0, 100.0, 2.0, 100.0, 1.0, 100.0, 0.0})},
      {"table lengths 0 and below 0 read nothing but use up the next line",
       text("0\n7 7 7 7 7 7 7 7 7 7\n1 2 3 4 5 6 7 8 9 10\n"),
       text("-4\nno table here\n10 9 8 7 6 5 4 3 2 1\n"),
       table("densarray=", {}) + table("temparray=", {}) + ict(1) +
           index_line({10, 9, 8, 7, 6, 5, 4, 3, 2, 1}) +
           index_line({1, 2, 3, 4, 5, 6, 7, 8, 9, 10}) + ict(2) +
           index_line({10, 9, 8, 7, 6, 5, 4, 3, 2, 1}) +
           index_line({1, 2, 3, 4, 5, 6, 7, 8, 9, 10}) + ipopsize(1) + alternating(1, 0.0, 0.0)},
      {"no index records at all", text("1\n1.0\n"), text("1\n1.0\n"),
       table("densarray=", {1.0}) + table("temparray=", {1.0}) + ict(1) + same_index(0) +
           same_index(0) + ipopsize(0)},
  };
  for (const auto& c : cases) expect_accepted(c);
}

TEST_F(Master, RefusesInputItCannotUse) {
  const std::string d = "3\n1.5 2.5 3.5\n";
  const std::string t = "2\n300.0 400.0\n";
  const std::string ones = "1 1 1 1 1 1 1 1 1 1\n";
  const std::string dens = table("densarray=", {1.5, 2.5, 3.5});
  const std::string tables = dens + table("temparray=", {300.0, 400.0});
  const std::vector<RefusedCase> cases = {
      {"seq_d.in missing", missing(), text(t + ones), "",
       "master: seq_d.in: cannot be opened: No such file or directory\n"},
      {"seq_t.in missing", text(d + ones), missing(), "",
       "master: seq_t.in: cannot be opened: No such file or directory\n"},
      {"seq_d.in a directory", directory(), text(t + ones), "",
       "master: seq_d.in line 1: cannot be read: Is a directory\n"},
      {"seq_t.in a directory", text(d + ones), directory(), dens,
       "master: seq_t.in line 1: cannot be read: Is a directory\n"},
      {"empty seq_d.in", text(""), text(t + ones), "",
       "master: seq_d.in line 1: end of file while reading the table length\n"},
      {"table cut short", text("3\n1.5\n2.5\n"), text(t + ones), "",
       "master: seq_d.in line 4: end of file while reading the table (2 of 3 values read)\n"},
      {"empty table at the end of the file", text(d + ones), text("0\n"), dens,
       "master: seq_t.in line 2: end of file instead of the line of the empty table\n"},
      {"table length above 10", text("11\n1 2 3 4 5 6 7 8 9 10 11\n" + ones), text(t + ones), "",
       "master: seq_d.in line 1: table length 11 is above 10\n"},
      {"table length above 10 in seq_t.in", text(d + ones),
       text("12\n1 2 3 4 5 6 7 8 9 10 11 12\n" + ones), dens,
       "master: seq_t.in line 1: table length 12 is above 10\n"},
      {"table length not a number", text("abc\n"), text(t + ones), "",
       "master: seq_d.in line 1: \"abc\" is not a number\n"},
      {"table length not an integer", text("3.0\n1.5 2.5 3.5\n"), text(t + ones), "",
       "master: seq_d.in line 1: \"3.0\" is not an integer\n"},
      {"table value not a number", text("3\n1.5 2.5x 3.5\n"), text(t + ones), "",
       "master: seq_d.in line 2: \"2.5x\" is not a number\n"},
      {"repeat count in a table", text(d + ones), text("2\n2*300.0\n"), dens,
       "master: seq_t.in line 2: \"2*300.0\" is not a number\n"},
      {"empty value in a table", text("3\n1.5,,3.5\n"), text(t + ones), "",
       "master: seq_d.in line 2: empty value before a comma\n"},
      {"density index above 10", text(d + "1 2 3 4 5\n6 7 8 9 11\n"), text(t + ones),
       tables + ict(1) + same_index(1),
       "master: seq_d.in line 4: index value 11 is outside 1 to 10\n"},
      {"temperature index 0", text(d + ones + ones), text(t + ones + "1 1 1 0 1 1 1 1 1 1\n"),
       tables + ict(1) + same_index(1) + same_index(1) + ict(2),
       "master: seq_t.in line 4: index value 0 is outside 1 to 10\n"},
      {"negative index in the extra temperature record", text(d + ones),
       text(t + ones + "-1 1 1 1 1 1 1 1 1 1\n"),
       tables + ict(1) + same_index(1) + same_index(1) + ict(2),
       "master: seq_t.in line 4: index value -1 is outside 1 to 10\n"},
      {"index value not an integer", text(d + "1 1 1 1.0 1 1 1 1 1 1\n"), text(t + ones),
       tables + ict(1) + same_index(1), "master: seq_d.in line 3: \"1.0\" is not an integer\n"},
      {"index value beyond 32 bits", text(d + ones), text(t + "1 1 99999999999 1 1 1 1 1 1 1\n"),
       tables + ict(1), "master: seq_t.in line 3: \"99999999999\" is out of range\n"},
      {"empty value in an index record", text(d + "1,1,,1,1,1,1,1,1,1\n"), text(t + ones),
       tables + ict(1) + same_index(1), "master: seq_d.in line 3: empty value before a comma\n"},
      {"seq_t.in out of index records while seq_d.in goes on", text(d + ones + ones),
       text(t + ones), tables + ict(1) + same_index(1) + same_index(1) + ict(2) + same_index(1),
       "master: seq_t.in line 4: end of file in index record 2, but seq_d.in line 4 completes "
       "one\n"},
      {"seq_t.in ends inside an index record while seq_d.in goes on",
       text(d + ones + "2 2 2 2 2\n2 2 2 2 2\n"), text(t + ones + "3 3 3\n"),
       tables + ict(1) + same_index(1) + same_index(1) + ict(2) +
           index_line({3, 3, 3, 1, 1, 1, 1, 1, 1, 1}),
       "master: seq_t.in line 5: end of file in index record 2, but seq_d.in line 5 completes "
       "one\n"},
  };
  for (const auto& c : cases) expect_refused(c);
}

TEST_F(Master, HoldsAtMostOneHundredIndividuals) {
  const std::string ones = "1 1 1 1 1 1 1 1 1 1\n";
  std::string records;
  std::string cycles;
  for (int p = 1; p <= 100; ++p) {
    records += ones;
    cycles += ict(p) + same_index(1) + same_index(1);
  }
  const std::string tables = table("densarray=", {1.0}) + table("temparray=", {2.0});
  expect_accepted({"100 individuals", text("1\n1.0\n" + records), text("1\n2.0\n" + records),
                   tables + cycles + ict(101) + same_index(1) + same_index(1) + ipopsize(100) +
                       alternating(100, 2.0, 1.0)});
  expect_refused({"101 individuals", text("1\n1.0\n" + records + ones),
                  text("1\n2.0\n" + records + ones), tables + cycles + ict(101) + same_index(1),
                  "master: seq_d.in line 103: more than 100 individuals\n"});
}

TEST_F(Master, ReadsTheBundledExample) {
  const auto density = read_file(std::string(DRIVER_EXAMPLES_DIR) + "/seq_d.in");
  const auto temperature = read_file(std::string(DRIVER_EXAMPLES_DIR) + "/seq_t.in");
  ASSERT_TRUE(density && temperature);
  const auto r = run_master(text(*density), text(*temperature));
  EXPECT_EQ(r.exit_status, 0) << r.err;
  const std::string out = front_end(r.out);
  EXPECT_NE(out.find(ipopsize(8)), std::string::npos) << out;
  std::size_t records = 0;
  for (std::size_t at = out.find("\n plistin("); at != std::string::npos;
       at = out.find("\n plistin(", at + 1)) {
    ++records;
  }
  EXPECT_EQ(records, 160u);
}

}  // namespace
