// The master program end to end: build/bin/master in a fresh working
// directory with generated seq_d.in and seq_t.in, on a private virtual
// machine whose torvo tasks write into out/. Its standard output is compared
// byte for byte with the records expected from the inputs and the torvo
// model: the tables, one "ict=" record and two index lines per cycle, the
// parameter list, five stop-notice lines and the result list.
#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "communicate/communicate.h"
#include "platform/host.h"
#include "records/format.h"
#include "tests/work_support.h"
#include "workers/torvo_model.h"

namespace {

using test_support::TempDir;
using work_test::index_line;
using work_test::record;
using work_test::record_of;
using Indices = std::array<std::int32_t, 10>;

constexpr int kZones = 10;
constexpr int kValuesIn = 2 * kZones;

// A population and the files that describe it.
struct Population {
  int size = 0;
  std::array<double, 10> density{};
  std::array<double, 10> temperature{};
  std::vector<Indices> density_index;      // a1 of each individual
  std::vector<Indices> temperature_index;  // b1 of each individual

  explicit Population(int n) : size(n) {
    for (int i = 0; i < 10; ++i) {
      density[static_cast<std::size_t>(i)] = 0.25 * (i + 1) + 0.5;
      temperature[static_cast<std::size_t>(i)] = 200.0 + 50.0 * (i + 1);
    }
    for (int p = 1; p <= n; ++p) {
      Indices a{};
      Indices b{};
      for (int z = 1; z <= kZones; ++z) {
        a[static_cast<std::size_t>(z - 1)] = (p * 7 + z * 3) % 10 + 1;
        b[static_cast<std::size_t>(z - 1)] = (p * 3 + z * 7 + 1) % 10 + 1;
      }
      density_index.push_back(a);
      temperature_index.push_back(b);
    }
  }

  static std::string file(const std::array<double, 10>& table,
                          const std::vector<Indices>& records) {
    std::string text = "10\n";
    for (double v : table) text += std::to_string(v) + " ";
    text += "\n";
    for (const Indices& r : records) {
      for (std::int32_t v : r) text += std::to_string(v) + " ";
      text += "\n";
    }
    return text;
  }

  void write(const TempDir& dir) const {
    test_support::write_file(dir.file("seq_d.in"), file(density, density_index));
    test_support::write_file(dir.file("seq_t.in"), file(temperature, temperature_index));
  }

  // Individual p's 20 values: temperature and density of each zone in turn.
  std::vector<double> individual(int p) const {
    std::vector<double> values;
    for (int z = 0; z < kZones; ++z) {
      const auto zi = static_cast<std::size_t>(z);
      const auto pi = static_cast<std::size_t>(p - 1);
      values.push_back(temperature[static_cast<std::size_t>(temperature_index[pi][zi] - 1)]);
      values.push_back(density[static_cast<std::size_t>(density_index[pi][zi] - 1)]);
    }
    return values;
  }
};

// Results of one individual: the torvo model, or its pressures alone.
std::vector<double> results(const std::vector<double>& job, bool pressures_only) {
  std::array<double, kValuesIn> out{};
  const std::int32_t n = torvo::evaluate(job, out);
  std::vector<double> values(out.begin(), out.begin() + n);
  if (!pressures_only) return values;
  std::vector<double> pressures;
  for (std::size_t i = 0; i < values.size(); i += 2) pressures.push_back(values[i]);
  return pressures;
}

// Everything the master prints for `pop`.
std::string expected_output(const Population& pop, bool pressures_only) {
  std::string out =
      record_of("densarray=", pop.density) + record_of("temparray=", pop.temperature);
  for (int c = 1; c <= pop.size; ++c) {
    out += record("ict=", c);
    out += index_line(pop.temperature_index[static_cast<std::size_t>(c - 1)]);
    out += index_line(pop.density_index[static_cast<std::size_t>(c - 1)]);
  }
  // The cycle that meets the end of the files repeats the last index lines.
  const Indices last_t = pop.size == 0 ? Indices{} : pop.temperature_index.back();
  const Indices last_d = pop.size == 0 ? Indices{} : pop.density_index.back();
  out += record("ict=", pop.size + 1) + index_line(last_t) + index_line(last_d);
  out += record("ipopsize=", pop.size);
  std::int32_t k = 0;
  for (int p = 1; p <= pop.size; ++p) {
    for (double v : pop.individual(p)) out += record("plistin(", ++k, ")=", v);
  }
  out += work_test::kill_notices(5);
  k = 0;
  for (int p = 1; p <= pop.size; ++p) {
    for (double v : results(pop.individual(p), pressures_only))
      out += record("plistout(", ++k, ")=", v);
  }
  return out;
}

// A master run directory on its own virtual machine, whose torvo comes from
// `ep_dir` and writes into out/ (TORVO_OUT).
struct MasterRun : work_test::WorkerBed {
  test_support::RunResult result;

  explicit MasterRun(const std::string& ep_dir)
      : WorkerBed("workmaster", {}, {}, ep_dir, "TORVO_OUT") {}

  void run(const Population& pop) {
    pop.write(dir);
    result = run_master(std::chrono::seconds(60));
  }
};

class MasterEndToEnd : public testing::TestWithParam<int> {};

TEST_P(MasterEndToEnd, PrintsEveryIndividualsResultsInOrder) {
  const Population pop(GetParam());
  MasterRun m(test_support::bin_dir());
  ASSERT_TRUE(m.vm.ok()) << m.vm.error();
  m.run(pop);
  EXPECT_EQ(m.result.exit_status, 0) << m.result.err;
  EXPECT_EQ(m.result.out, expected_output(pop, false));

  // Five torvo tasks, each with its banner, its member index and its share
  // of the jobs; every job was done once.
  // The master does not wait for its workers to end: wait for their last record.
  std::map<std::string, std::string> files;
  ASSERT_TRUE(work_test::wait_for([&] {
    files = work_test::task_files(m.out, "torvo_std");
    return work_test::files_all_contain(files, 5, " jobs done=");
  })) << files.size()
      << " task output files";
  records::NameField host;
  platform::getcompname(host, 30);
  std::set<long> members;
  std::set<long> parents;
  long jobs = 0;
  for (const auto& [name, text] : files) {
    SCOPED_TRACE(name);
    const std::string path = m.out + "/" + name;
    const auto parent = work_test::value_after(text, "mptid=");
    ASSERT_TRUE(parent);
    parents.insert(*parent);
    EXPECT_TRUE(text.starts_with(work_test::banner(path, host, static_cast<std::int32_t>(*parent))))
        << text;
    members.insert(work_test::value_after(text, "me=").value_or(-1));
    const auto lines = work_test::lines(text);
    ASSERT_FALSE(lines.empty());
    const auto last = work_test::words(lines.back());
    ASSERT_EQ(last.size(), 3u);
    EXPECT_EQ(last[0] + " " + last[1], "jobs done=");
    jobs += std::stol(last[2]);
  }
  EXPECT_EQ(members, (std::set<long>{0, 1, 2, 3, 4}));
  ASSERT_EQ(parents.size(), 1u);
  EXPECT_GT(*parents.begin(), 0);
  EXPECT_EQ(jobs, pop.size);
}

INSTANTIATE_TEST_SUITE_P(Populations, MasterEndToEnd, testing::Values(0, 2, 4, 5, 7, 100),
                         [](const testing::TestParamInfo<int>& p) {
                           return "size" + std::to_string(p.param);
                         });

// Workers that answer with another count than the master's 20: the result
// list follows the workers' count.
TEST(MasterEndToEndCounts, ResultCountFollowsTheWorkers) {
  const Population pop(7);
  MasterRun m(test_support::bin_dir() + "/alt");
  ASSERT_TRUE(m.vm.ok()) << m.vm.error();
  m.run(pop);
  EXPECT_EQ(m.result.exit_status, 0) << m.result.err;
  EXPECT_EQ(m.result.out, expected_output(pop, true));
}

}  // namespace
