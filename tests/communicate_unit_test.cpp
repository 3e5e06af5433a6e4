// The communicate library without a PVM daemon: the process-group registry,
// the host-list rotation and task placement, and every refusal that happens
// before a message would be built or sent. Each TEST runs in a process of its
// own, so the registry starts untouched in every one; refusals run in a
// forked child (death tests) and leave their records in fort.1.
#include <gtest/gtest.h>

#include <array>
#include <ostream>
#include <cstdio>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "communicate/communicate.h"
#include "communicate/placement.h"
#include "tests/communicate_support.h"

namespace {

using namespace communicate;
using commtest_support::mycomp_record;
using commtest_support::record;
using commtest_support::name;
using commtest_support::nul_padded;
using commtest_support::WorkDir;

const std::string kFindelmError = " ERROR findelm: p_info index corr. to exec not found\n";

// The name `prefix` followed by the number k.
NameField numbered(char prefix, std::int32_t k) {
  std::array<char, 16> text{};
  const int length = std::snprintf(text.data(), text.size(), "%c%d", prefix, k);
  return name(std::string_view(text.data(), static_cast<std::size_t>(length)));
}

// Task ids that tell the registration `k` and the position apart.
TidArray numbered_tids(std::int32_t k) {
  TidArray t;
  for (int p = t.first(); p <= t.last(); ++p) t[p] = 1000 * k + p;
  return t;
}

// ---- Registry ----

struct Registration {
  NameField exec;
  std::int32_t nproc;
};

struct Lookup {
  NameField exec;
  std::optional<std::int32_t> index;  // what findelm finds
  std::int32_t nproc;                 // what get_nproc reports
};

struct RegistryCase {
  std::string title;
  std::vector<Registration> registrations;
  std::vector<Lookup> lookups;
};

std::vector<Registration> fifty_groups() {
  std::vector<Registration> r;
  for (std::int32_t k = 1; k <= kMaxGroups; ++k) r.push_back({numbered('g', k), k % 34});
  return r;
}

void PrintTo(const RegistryCase& c, std::ostream* os) { *os << c.title; }

class Registry : public ::testing::TestWithParam<RegistryCase> {
 protected:
  WorkDir dir;
};

TEST_P(Registry, FindsEntriesInRegistrationOrder) {
  const RegistryCase& c = GetParam();
  std::int32_t k = 0;
  for (const Registration& r : c.registrations) add2p_info(r.exec, r.nproc, numbered_tids(++k));

  std::string expected;
  for (const Lookup& l : c.lookups) {
    SCOPED_TRACE(std::string(l.exec.view()));
    EXPECT_EQ(findelm(l.exec), l.index);
    EXPECT_EQ(get_nproc(l.exec), l.nproc);
    if (!l.index) expected += kFindelmError + kFindelmError;  // findelm, then get_nproc
  }
  EXPECT_EQ(dir.fort1(), expected);

  // Every registration filled the next entry and kept all 33 task ids.
  k = 0;
  for (const Registration& r : c.registrations) {
    const procinfo& e = state().p_info[++k];
    EXPECT_EQ(e.exec, r.exec);
    EXPECT_EQ(e.status, 1);
    EXPECT_EQ(e.nproc, r.nproc);
    EXPECT_EQ(e.tids.values, numbered_tids(k).values);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Communicate, Registry,
    ::testing::Values(
        RegistryCase{"untouched table",
                     {},
                     {{name("xxx"), std::nullopt, 0},
                      {name("torvo"), std::nullopt, 0},
                      // Untouched entries hold NUL characters only.
                      {NameField{}, 1, 0}}},
        RegistryCase{"free entries are named xxx after the first registration",
                     {{name("torvo"), 5}},
                     {{name("torvo"), 1, 5}, {name("xxx"), 2, 0}, {nul_padded("xxx"), std::nullopt, 0}}},
        RegistryCase{"duplicate names find the first registration",
                     {{name("torvo"), 2}, {name("torvo"), 3}},
                     {{name("torvo"), 1, 2}, {name("xxx"), 3, 0}}},
        RegistryCase{"leading blank and NUL padding make other names",
                     {{name("torvo"), 2}},
                     {{name(" torvo"), std::nullopt, 0},
                      {nul_padded("torvo"), std::nullopt, 0},
                      {name("TORVO"), std::nullopt, 0},
                      {name("torvo"), 1, 2}}},
        RegistryCase{"a NUL-padded name is found as registered",
                     {{nul_padded("torvo"), 4}, {name("torvo"), 1}},
                     {{nul_padded("torvo"), 1, 4}, {name("torvo"), 2, 1}}},
        RegistryCase{"empty group",
                     {{name("none"), 0}},
                     {{name("none"), 1, 0}}},
        RegistryCase{"fifty registrations fill the table",
                     fifty_groups(),
                     {{name("g1"), 1, 1}, {name("g33"), 33, 33}, {name("g50"), 50, 16},
                      {name("xxx"), std::nullopt, 0}}}));

TEST(CommunicateRegistry, AccessorsStartAtZero) {
  WorkDir dir;
  EXPECT_EQ(get_cmytid(), Field<10>{});
  EXPECT_EQ(get_me(), 0);
  EXPECT_EQ(get_mytid(), 0);
  state().me = 4;
  state().mytid = 262147;
  state().cmytid = Field<10>::from("262147");
  EXPECT_EQ(get_me(), 4);
  EXPECT_EQ(get_mytid(), 262147);
  EXPECT_EQ(get_cmytid(), Field<10>::from("262147"));
}

TEST(CommunicateRegistry, FiftyFirstRegistrationStopsNonZero) {
  WorkDir dir;
  const auto register_51 = [] {
    for (std::int32_t k = 1; k <= kMaxGroups + 1; ++k) add2p_info(numbered('g', k), 1, TidArray{});
  };
  EXPECT_EXIT(register_51(), ::testing::ExitedWithCode(kErrorExit), "");
  EXPECT_EQ(dir.fort1(), " ERROR newelm: no more new elements\n");
}

TEST(CommunicateRegistry, NewelmOnFullTableReportsNone) {
  WorkDir dir;
  for (const Registration& r : fifty_groups()) add2p_info(r.exec, r.nproc, TidArray{});
  EXPECT_EQ(newelm(), std::nullopt);
  EXPECT_EQ(dir.fort1(), " ERROR newelm: no more new elements\n");
}

// ---- Host list rotation and task placement ----

constexpr std::string_view kLetters = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdef";

struct RotationCase {
  std::string title;
  std::int32_t ishft;
  std::int32_t ncomp;
  std::string_view after;  // one letter per host of the 32 entries
};

void PrintTo(const RotationCase& c, std::ostream* os) { *os << c.title; }

class Rotation : public ::testing::TestWithParam<RotationCase> {};

TEST_P(Rotation, RotatesTheLiveEntriesLeft) {
  const RotationCase& c = GetParam();
  HostList list;
  for (int i = 1; i <= kMaxHosts; ++i) list[i] = name(kLetters.substr(static_cast<std::size_t>(i - 1), 1));
  cmpshft(list, c.ishft, c.ncomp);
  std::string after;
  for (int i = 1; i <= kMaxHosts; ++i) after += list[i].trimmed();
  EXPECT_EQ(after, c.after);
}

INSTANTIATE_TEST_SUITE_P(
    Communicate, Rotation,
    ::testing::Values(RotationCase{"one step of three", 1, 3, "BCADEFGHIJKLMNOPQRSTUVWXYZabcdef"},
                      RotationCase{"four steps of three", 4, 3, "BCADEFGHIJKLMNOPQRSTUVWXYZabcdef"},
                      RotationCase{"two steps of three", 2, 3, "CABDEFGHIJKLMNOPQRSTUVWXYZabcdef"},
                      RotationCase{"a full turn", 3, 3, "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdef"},
                      RotationCase{"no shift", 0, 3, "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdef"},
                      RotationCase{"no shift and no entries", 0, 0, "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdef"},
                      RotationCase{"one entry", 5, 1, "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdef"},
                      RotationCase{"every entry", 2, 32, "CDEFGHIJKLMNOPQRSTUVWXYZabcdefAB"},
                      RotationCase{"every entry one short of a turn", 31, 32, "fABCDEFGHIJKLMNOPQRSTUVWXYZabcde"}));

struct PlacementCase {
  std::string title;
  std::string_view mycomp;
  std::vector<std::string_view> hosts;
  std::int32_t strt;
  std::int32_t shft;
  std::int32_t nproc;
  std::optional<std::int32_t> own;
  std::vector<std::string_view> placed;  // host of task 1, 2, ...
};

void PrintTo(const PlacementCase& c, std::ostream* os) { *os << c.title; }

class Placing : public ::testing::TestWithParam<PlacementCase> {};

TEST_P(Placing, PutsTasksFromTheOwnHostOn) {
  const PlacementCase& c = GetParam();
  HostList host;
  const auto nhost = static_cast<std::int32_t>(c.hosts.size());
  for (std::int32_t i = 1; i <= nhost; ++i) host[i] = name(c.hosts[static_cast<std::size_t>(i - 1)]);
  const Placement p = place_tasks(name(c.mycomp), host, nhost, c.strt, c.shft, c.nproc);
  EXPECT_EQ(p.own, c.own);
  std::vector<std::string_view> placed;
  for (std::int32_t k = 1; k <= c.nproc; ++k) placed.push_back(p.hosts[k].trimmed());
  EXPECT_EQ(placed, c.placed);
}

INSTANTIATE_TEST_SUITE_P(
    Communicate, Placing,
    ::testing::Values(
        PlacementCase{"driver call on beta", "beta", {"alpha", "beta", "gamma"}, 0, 1, 5, 2,
                      {"beta", "gamma", "alpha", "beta", "gamma"}},
        PlacementCase{"own host first", "alpha", {"alpha", "beta", "gamma"}, 0, 1, 4, 1,
                      {"alpha", "beta", "gamma", "alpha"}},
        PlacementCase{"own host not configured", "delta", {"alpha", "beta", "gamma"}, 0, 1, 2, std::nullopt,
                      {"alpha", "beta"}},
        PlacementCase{"own host not configured with start offset", "delta", {"alpha", "beta", "gamma"}, 1, 1, 2,
                      std::nullopt, {"beta", "gamma"}},
        PlacementCase{"prefix match stops at the first host", "beta", {"betamax", "beta"}, 0, 1, 2, 1,
                      {"betamax", "beta"}},
        PlacementCase{"configured name with a domain", "beta", {"alpha", "beta.example.org"}, 0, 1, 2, 2,
                      {"beta.example.org", "alpha"}},
        PlacementCase{"own name with a domain", "beta.example.org", {"alpha", "beta"}, 0, 1, 1, 2, {"beta"}},
        PlacementCase{"start one shift two", "A", {"A", "B", "C", "D"}, 1, 2, 4, 1, {"B", "D", "B", "D"}},
        PlacementCase{"negative start rotates right", "A", {"A", "B", "C", "D"}, -1, 1, 3, 1, {"D", "A", "B"}},
        PlacementCase{"no shift", "beta", {"alpha", "beta", "gamma"}, 0, 0, 3, 2, {"beta", "beta", "beta"}},
        PlacementCase{"one host", "solo", {"solo"}, 0, 1, 3, 1, {"solo", "solo", "solo"}},
        PlacementCase{"no tasks", "beta", {"alpha", "beta"}, 0, 1, 0, 2, {}},
        PlacementCase{"negative task count", "beta", {"alpha", "beta"}, 0, 1, -3, 2, {}},
        PlacementCase{"blank own name matches the first host", "", {"alpha", "beta"}, 0, 1, 2, 1,
                      {"alpha", "beta"}},
        PlacementCase{"error as own name", "error", {"alpha", "beta"}, 0, 1, 1, std::nullopt, {"alpha"}}));

TEST(CommunicatePlacement, ThirtyThreeTasksWrapAroundThirtyTwoHosts) {
  HostList host;
  for (int i = 1; i <= kMaxHosts; ++i) host[i] = numbered('h', i);
  const Placement p = place_tasks(name("h5"), host, kMaxHosts, 0, 1, kMaxTids);
  ASSERT_EQ(p.own, 5);
  for (std::int32_t k = 1; k <= kMaxTids; ++k) {
    EXPECT_EQ(p.hosts[k], numbered('h', (k + 3) % kMaxHosts + 1)) << "task " << k;
  }
}

// ---- Refusals: an "ERROR ..." record on channel 1 and a non-zero exit ----

struct RefusalCase {
  std::string title;
  std::function<void()> act;  // runs in the child process
  std::string records;        // what fort.1 holds afterwards
};

void PrintTo(const RefusalCase& c, std::ostream* os) { *os << c.title; }

class Refusal : public ::testing::TestWithParam<RefusalCase> {
 protected:
  WorkDir dir;
};

TEST_P(Refusal, PrintsItsRecordAndExitsNonZero) {
  const RefusalCase& c = GetParam();
  add2p_info(name("pair"), 2, numbered_tids(1));
  add2p_info(name("empty"), 0, numbered_tids(2));
  EXPECT_EXIT(c.act(), ::testing::ExitedWithCode(kErrorExit), "");
  EXPECT_EQ(dir.fort1(), c.records);
}

const std::array<std::int32_t, 4> kFourInts{1, 2, 3, 4};
const std::array<double, 4> kFourReals{1.5, 2.5, 3.5, 4.5};

INSTANTIATE_TEST_SUITE_P(
    Communicate, Refusal,
    ::testing::Values(
        RefusalCase{"destin to an unregistered group", [] { destin(3, name("nobody")); }, kFindelmError},
        RefusalCase{"destin to one unregistered member", [] { destin(3, name("nobody"), 0); }, kFindelmError},
        RefusalCase{"destin past the group", [] { destin(3, name("pair"), 2); },
                    " ERROR destin: member index outside the group\n"},
        RefusalCase{"destin to a negative member", [] { destin(3, name("pair"), -1); },
                    " ERROR destin: member index outside the group\n"},
        RefusalCase{"recv from an unregistered group", [] { recv(3, name("nobody")); }, kFindelmError},
        RefusalCase{"recv past the group", [] { recv(3, name("pair"), 2); },
                    " ERROR recv: member index outside the group\n"},
        RefusalCase{"recv from member 0 of an empty group", [] { recv(3, name("empty")); },
                    " ERROR recv: member index outside the group\n"},
        RefusalCase{"x_stids with both groups unregistered", [] { x_stids(1, name("nobody"), name("noone")); },
                    kFindelmError + kFindelmError},
        RefusalCase{"x_stids to an unregistered group", [] { x_stids(1, name("pair"), name("noone"), 0, 0); },
                    kFindelmError},
        RefusalCase{"x_stids with itm_info alone", [] { x_stids(1, name("pair"), name("pair"), 1, std::nullopt); },
                    " ERROR x_stds: Both optional entries NOT present\n"},
        RefusalCase{"x_stids with itm_where alone", [] { x_stids(1, name("pair"), name("pair"), std::nullopt, 0); },
                    " ERROR x_stds: Both optional entries NOT present\n"},
        RefusalCase{"x_stids id past the group", [] { x_stids(1, name("pair"), name("pair"), 2, 0); },
                    " ERROR x_stids: member index outside the group\n"},
        RefusalCase{"x_stids target past the group", [] { x_stids(1, name("pair"), name("empty"), 0, 0); },
                    " ERROR x_stids: member index outside the group\n"},
        RefusalCase{"x_sp_c with 34 tasks", [] { x_sp_c(name("commtest_worker"), 34, 0, 1); },
                    " ERROR x_sp_c: more than 33 tasks\n"},
        RefusalCase{"x_sp_c without a virtual machine", [] { x_sp_c(name("commtest_worker"), 1, 0, 1); },
                    mycomp_record() + " ERROR x_sp_c: pvm_config failed\n"},
        RefusalCase{"cmpshft with a negative shift", [] {
                      HostList list;
                      cmpshft(list, -1, 3);
                    },
                    " ERROR: x_sp_c ishft < 0\n"},
        RefusalCase{"cmpshft over 33 entries", [] {
                      HostList list;
                      cmpshft(list, 1, 33);
                    },
                    " ERROR cmpshft: entry count outside 1..32\n"},
        RefusalCase{"add2p_info with 34 members", [] { add2p_info(name("big"), 34, TidArray{}); },
                    " ERROR add2p_info: member count outside 0..33\n"},
        RefusalCase{"add2p_info with a negative count", [] { add2p_info(name("neg"), -1, TidArray{}); },
                    " ERROR add2p_info: member count outside 0..33\n"},
        RefusalCase{"pk_in whose stride reaches past the array", [] { pk_in(kFourInts, 3, 2); },
                    " ERROR pk_in: count or stride reaches past the array\n"},
        RefusalCase{"pk_in with a negative count", [] { pk_in(kFourInts, -1); },
                    " ERROR pk_in: count or stride reaches past the array\n"},
        RefusalCase{"pk_rn whose count reaches past the array", [] { pk_rn(kFourReals, 5); },
                    " ERROR pk_rn: count or stride reaches past the array\n"},
        RefusalCase{"pk_rn with a negative stride", [] { pk_rn(kFourReals, 2, -1); },
                    " ERROR pk_rn: count or stride reaches past the array\n"},
        RefusalCase{"pk_cn past the text", [] { pk_cn(name("abc").view(), 31); },
                    " ERROR pk_cn: count or stride reaches past the text\n"},
        RefusalCase{"pk_cn whose stride reaches past the text", [] { pk_cn("abcdef", 3, 3); },
                    " ERROR pk_cn: count or stride reaches past the text\n"},
        RefusalCase{"pk_c1 of an empty text", [] { pk_c1(""); }, " ERROR pk_c1: empty text\n"}));

TEST(CommunicateAddressed, RecvWithMemberButNoGroupReportsAndReturns) {
  WorkDir dir;
  state().info = 12345;
  recv(3, std::nullopt, 0);
  recv(3, std::nullopt, 7);
  EXPECT_EQ(state().info, 12345);  // no receive was made
  EXPECT_EQ(dir.fort1(), " ERROR communicate:recv logic falure\n ERROR communicate:recv logic falure\n");
}

}  // namespace
