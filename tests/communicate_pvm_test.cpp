// The communicate library against a real PVM daemon: spawning and its trace
// records, the teardown after a failed spawn, task-id distribution, packing
// round trips, and send/receive by group and member. Every TEST runs in a
// process of its own with a private virtual machine whose tasks run
// commtest_worker (see workers/commtest_protocol.h) in the test's directory.
// The test process is the master; steps that end the process run in a forked
// child (death tests) before the test process itself uses PVM.
#include <gtest/gtest.h>
#include <pvm3.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "communicate/communicate.h"
#include "platform/host.h"
#include "tests/communicate_support.h"
#include "workers/commtest_protocol.h"

namespace {

using namespace communicate;
using namespace commtest;
using commtest_support::mycomp_record;
using commtest_support::record;
using commtest_support::name;
using commtest_support::wait_until;
using commtest_support::WorkDir;

const NameField kGroup = name(kWorkerName);

// What a worker reports after each x_rtids_p.
struct Hello {
  std::int32_t me = -1;
  TaskId mytid = 0;
  TaskId mptid = 0;
  std::int32_t pid = 0;
  std::vector<TaskId> group;  // the group it registered
};

std::int32_t take_int() {
  std::int32_t v = 0;
  upk_i1(v);
  return v;
}

// Takes the next hello from any task.
Hello take_hello() {
  recv(kReplyTag);
  Hello h;
  h.me = take_int();
  h.mytid = take_int();
  h.mptid = take_int();
  h.pid = take_int();
  std::array<TaskId, kMaxTids> ids{};
  std::int32_t n = 0;
  upk_in(ids, n);
  h.group.assign(ids.begin(), ids.begin() + n);
  return h;
}

std::vector<TaskId> group_tids(const NameField& exec) {
  const procinfo& e = state().p_info[findelm(exec).value()];
  return {e.tids.data(), e.tids.data() + e.nproc};
}

// Spawns `n` workers, sends them their task ids and returns their hellos by member index.
std::vector<Hello> start_workers(std::int32_t n) {
  x_sp_c(kGroup, n, 0, 1);
  x_stids(kTidsTag, kGroup, kGroup);
  std::vector<Hello> hellos;
  for (std::int32_t k = 0; k < n; ++k) hellos.push_back(take_hello());
  std::sort(hellos.begin(), hellos.end(), [](const Hello& a, const Hello& b) { return a.me < b.me; });
  return hellos;
}

// Sends the command `code` and whatever `args` pack to member `ip`, or to every member.
template <class Args>
void command(std::int32_t code, std::optional<std::int32_t> ip, Args args) {
  pk_i1(code);
  args();
  destin(kCommandTag, kGroup, ip);
}
void command(std::int32_t code, std::optional<std::int32_t> ip) {
  command(code, ip, [] {});
}

void send_ints(std::int32_t tag, const NameField& group, std::optional<std::int32_t> ip,
               std::initializer_list<std::int32_t> values) {
  for (std::int32_t v : values) pk_i1(v);
  destin(tag, group, ip);
}

// The three integers of a [me, x, y] reply.
std::array<std::int32_t, 3> take_reply3() {
  recv(kReplyTag);
  return {take_int(), take_int(), take_int()};
}

bool process_ended(std::int32_t pid) {
  const auto stat = test_support::read_file("/proc/" + std::to_string(pid) + "/stat");
  if (!stat) return true;
  const std::size_t paren = stat->rfind(')');
  return paren != std::string::npos && paren + 2 < stat->size() &&
         ((*stat)[paren + 2] == 'Z' || (*stat)[paren + 2] == 'X');
}

// Tasks of the machine start in the test's directory.
test_support::VmOptions options_for(const WorkDir& dir) {
  test_support::VmOptions options;
  options.wd = dir.path();
  return options;
}

class CommunicatePvm : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(vm.ok()) << vm.error(); }
  void TearDown() override { pvm_exit(); }

  // Records of a worker's channel 1, by its process id.
  std::string worker_records(std::int32_t pid) const {
    return test_support::read_file(dir.file("commtest." + std::to_string(pid) + ".1")).value_or("");
  }
  // Process ids of the workers that have written their channel-1 file.
  std::vector<std::int32_t> worker_pids() const {
    std::vector<std::int32_t> pids;
    for (const auto& entry : std::filesystem::directory_iterator(dir.path())) {
      const std::string file = entry.path().filename().string();
      if (file.starts_with("commtest.") && file.ends_with(".1")) {
        pids.push_back(std::stoi(file.substr(9, file.size() - 11)));
      }
    }
    return pids;
  }
  // Waits until the only worker's records contain `text`, and the worker has ended.
  void expect_worker_refused(const std::string& text) const {
    std::vector<std::int32_t> pids;
    ASSERT_TRUE(wait_until([&] {
      pids = worker_pids();
      return pids.size() == 1 && worker_records(pids[0]).find(text) != std::string::npos;
    })) << "worker records: " << (pids.empty() ? std::string("(none)") : worker_records(pids[0]));
    EXPECT_TRUE(wait_until([&] { return process_ended(pids[0]); }));
  }

  // The records x_sp_c prints up to the spawn requests on the one-host machine.
  static std::string spawn_preamble() {
    return mycomp_record() + record("nhost=", 1, " host(", 1, ")=", own_name()) +
           record("I am host(", 1, ")=", own_name());
  }
  static NameField own_name() {
    NameField n;
    platform::getcompname(n, 30);
    return n;
  }

  WorkDir dir;
  test_support::PrivateVm vm{options_for(dir)};
};

// ---- Spawning and teardown ----

TEST_F(CommunicatePvm, SpawnsFiveTasksOnTheOwnHostWithTraceRecords) {
  x_sp_c(kGroup, 5, 0, 1);

  std::string expected = spawn_preamble();
  for (int k = 0; k < 5; ++k) expected += record("prmhost(1)= ", own_name());
  EXPECT_EQ(dir.fort1(), expected);
  ASSERT_EQ(findelm(kGroup), 1);
  EXPECT_EQ(get_nproc(kGroup), 5);
  std::vector<TaskId> tids = group_tids(kGroup);
  for (TaskId t : tids) EXPECT_GT(t, 0);
  std::sort(tids.begin(), tids.end());
  EXPECT_EQ(std::adjacent_find(tids.begin(), tids.end()), tids.end()) << "task ids repeat";

  x_stids(kTidsTag, kGroup, kGroup);
  for (int k = 0; k < 5; ++k) take_hello();
  command(kQuit, std::nullopt);
}

TEST_F(CommunicatePvm, FailedSpawnTearsDownAndExitsNonZero) {
  const NameField missing = name("no_such_commtest_program");
  EXPECT_EXIT(x_sp_c(missing, 2, 0, 1), ::testing::ExitedWithCode(kErrorExit), "");
  EXPECT_EQ(dir.fort1(), spawn_preamble() + record("prmhost(1)= ", own_name()) + record("prmhost(1)= ", own_name()) +
                             record("trouble spawning ", missing) + record(" Check tids for error code"));
}

TEST_F(CommunicatePvm, NegativeShiftIsRefusedBeforeAnyTaskStarts) {
  EXPECT_EXIT(x_sp_c(kGroup, 2, 0, -1), ::testing::ExitedWithCode(kErrorExit), "");
  EXPECT_EQ(dir.fort1(), spawn_preamble() + " ERROR: x_sp_c ishft < 0\n");
  EXPECT_TRUE(worker_pids().empty());
}

TEST_F(CommunicatePvm, ShutdownKillsEveryListedTaskAndExitsNonZero) {
  const auto start_and_shut_down = [] {
    start_workers(2);
    const TidArray started = state().p_info[1].tids;
    TidArray tids;
    tids[0] = started[0];
    tids[1] = PvmNoFile;  // a position that holds a spawn error code
    tids[2] = started[1];
    shutdown(3, tids);
  };
  EXPECT_EXIT(start_and_shut_down(), ::testing::ExitedWithCode(kErrorExit), "");
  const std::vector<std::int32_t> pids = worker_pids();
  ASSERT_EQ(pids.size(), 2U);
  for (std::int32_t pid : pids) EXPECT_TRUE(wait_until([&] { return process_ended(pid); })) << "pid " << pid;
  // shutdown prints nothing of its own.
  EXPECT_EQ(dir.fort1(), spawn_preamble() + record("prmhost(1)= ", own_name()) + record("prmhost(1)= ", own_name()));
}

// ---- Task-id distribution ----

TEST_F(CommunicatePvm, EveryWorkerLearnsItsMemberIndexAndGroup) {
  const std::vector<Hello> first = start_workers(3);
  const std::vector<TaskId> tids = group_tids(kGroup);
  for (std::int32_t k = 0; k < 3; ++k) {
    SCOPED_TRACE("member " + std::to_string(k));
    const Hello& h = first[static_cast<std::size_t>(k)];
    EXPECT_EQ(h.me, k);
    EXPECT_EQ(h.mytid, tids[static_cast<std::size_t>(k)]);
    EXPECT_EQ(h.mptid, first[0].mptid);
    EXPECT_EQ(h.group, tids);
    EXPECT_EQ(worker_records(h.pid), record("mptid=", h.mptid) + record("me=", k));
  }

  // Each round: a command to some workers to take one more task-id list,
  // the list sent by x_stids, and the member index and group every addressed
  // worker then reports.
  struct Round {
    std::string title;
    std::optional<std::int32_t> receiver;  // the one worker told, or every worker
    std::function<void()> send;
    std::vector<std::int32_t> me;                   // by member index
    std::vector<std::vector<TaskId>> group;         // by member index
  };
  const TaskId t0 = tids[0];
  const TaskId t1 = tids[1];
  const TaskId t2 = tids[2];
  TidArray others;
  others[0] = t0;
  others[1] = t2;
  add2p_info(name("others"), 2, others);
  add2p_info(name("nobody"), 0, TidArray{});
  const std::vector<Round> rounds = {
      {"all mode, another group", std::nullopt, [] { x_stids(kTidsTag, name("others"), kGroup); },
       {0, 1, 1}, {{t0, t2}, {t0, t2}, {t0, t2}}},
      {"one mode, another member's id", 2, [] { x_stids(kTidsTag, kGroup, kGroup, 0, 2); }, {-1, -1, 1},
       {{}, {}, {t0}}},
      {"one mode, the own id", 2, [] { x_stids(kTidsTag, kGroup, kGroup, 2, 2); }, {-1, -1, 0}, {{}, {}, {t2}}},
      {"all mode, an empty group", std::nullopt, [] { x_stids(kTidsTag, name("nobody"), kGroup); }, {0, 1, 0},
       {{}, {}, {}}},
      {"all mode, the own group again", std::nullopt, [] { x_stids(kTidsTag, kGroup, kGroup); }, {0, 1, 2},
       {{t0, t1, t2}, {t0, t1, t2}, {t0, t1, t2}}},
  };
  int number = 0;
  for (const Round& r : rounds) {
    SCOPED_TRACE(r.title);
    const NameField round_name = name("round" + std::to_string(++number));
    command(kTids, r.receiver, [&] { pk_cn(round_name.view(), 30); });
    r.send();
    const int replies = r.receiver ? 1 : 3;
    for (int j = 0; j < replies; ++j) {
      const Hello h = take_hello();
      const auto k = static_cast<std::size_t>(
          std::find(tids.begin(), tids.end(), h.mytid) - tids.begin());
      ASSERT_LT(k, 3U);
      EXPECT_EQ(h.me, r.me[k]) << "member " << k;
      EXPECT_EQ(h.group, r.group[k]) << "member " << k;
    }
  }
  command(kQuit, std::nullopt);
}

TEST_F(CommunicatePvm, WorkerWithoutParentIsRefused) {
  EXPECT_EXIT(x_rtids_p(kTidsTag, kGroup), ::testing::ExitedWithCode(kErrorExit), "");
  EXPECT_EQ(dir.fort1(), record("mptid=", PvmNoParent) + " ERROR x_rtids_p: no parent task\n");
}

class TaskIdCount : public CommunicatePvm, public ::testing::WithParamInterface<std::int32_t> {};

TEST_P(TaskIdCount, OutsideTheListIsRefusedByTheWorker) {
  x_sp_c(kGroup, 1, 0, 1);
  pk_i1(GetParam());
  for (std::int32_t k = 0; k < 34; ++k) pk_i1(1000 + k);
  destin(kTidsTag, kGroup);
  expect_worker_refused(" ERROR x_rtids_p: task-id count outside 0..33\n");
}

INSTANTIATE_TEST_SUITE_P(Communicate, TaskIdCount, ::testing::Values(34, -1));

// ---- Packing round trips ----

struct EchoItem {
  explicit EchoItem(Kind k) : kind(k) {}
  Kind kind;
  std::int32_t i = 0;                // kI1
  double r = 0.0;                    // kR1
  std::string text;                  // kC1, kCn: the packed text
  std::vector<std::int32_t> ints;    // kIn
  std::vector<double> reals;         // kRn
  std::int32_t n = 0;                // kIn, kRn, kCn
  std::optional<std::int32_t> strd;  // kIn, kRn, kCn
  std::string expect_text;           // kC1, kCn: what arrives
  std::vector<std::int32_t> expect_ints;
  std::vector<double> expect_reals;
};

EchoItem i1(std::int32_t v) {
  EchoItem e(kI1);
  e.i = v;
  return e;
}
EchoItem r1(double v) {
  EchoItem e(kR1);
  e.r = v;
  return e;
}
EchoItem c1(std::string text, std::string arrives) {
  EchoItem e(kC1);
  e.text = std::move(text);
  e.expect_text = std::move(arrives);
  return e;
}
EchoItem in(std::vector<std::int32_t> v, std::int32_t n, std::optional<std::int32_t> strd,
            std::vector<std::int32_t> arrives) {
  EchoItem e(kIn);
  e.ints = std::move(v);
  e.n = n;
  e.strd = strd;
  e.expect_ints = std::move(arrives);
  return e;
}
EchoItem rn(std::vector<double> v, std::int32_t n, std::optional<std::int32_t> strd, std::vector<double> arrives) {
  EchoItem e(kRn);
  e.reals = std::move(v);
  e.n = n;
  e.strd = strd;
  e.expect_reals = std::move(arrives);
  return e;
}
EchoItem cn(std::string text, std::int32_t n, std::optional<std::int32_t> strd, std::string arrives) {
  EchoItem e(kCn);
  e.text = std::move(text);
  e.n = n;
  e.strd = strd;
  e.expect_text = std::move(arrives);
  return e;
}

void pack(const EchoItem& e) {
  switch (e.kind) {
    case kI1: pk_i1(e.i); break;
    case kR1: pk_r1(e.r); break;
    case kC1: pk_c1(e.text); break;
    case kIn: pk_in(e.ints, e.n, e.strd); break;
    case kRn: pk_rn(e.reals, e.n, e.strd); break;
    case kCn: pk_cn(e.text, e.n, e.strd); break;
  }
}

// Reads the worker's echo of an array item: the count `n` it was packed with,
// then the kEchoCapacity elements it unpacked into an array prefilled with
// `fill`, which must be `arrives` followed by fill elements.
template <class T, class Sequence, class Unpack>
void check_array_echo(std::int32_t n, Unpack unpack, const Sequence& arrives, T fill) {
  EXPECT_EQ(take_int(), n);
  std::array<T, kEchoCapacity> got{};
  std::int32_t m = 0;
  unpack(got, m);
  ASSERT_EQ(m, kEchoCapacity);
  Sequence expected = arrives;
  expected.resize(kEchoCapacity, fill);
  EXPECT_EQ(Sequence(got.begin(), got.end()), expected);
}

// Reads the worker's echo of `e` and checks it.
void check_echo(const EchoItem& e) {
  switch (e.kind) {
    case kI1:
      EXPECT_EQ(take_int(), e.i);
      break;
    case kR1: {
      double r = 0.0;
      upk_r1(r);
      EXPECT_EQ(r, e.r);
      break;
    }
    case kC1: {
      std::array<char, 3> text{};
      std::int32_t n = 0;
      upk_cn(text, n);
      EXPECT_EQ(n, 3);
      EXPECT_EQ(std::string(text.data(), 3), e.expect_text);
      break;
    }
    case kIn: check_array_echo(e.n, upk_in, e.expect_ints, kFillInt); break;
    case kRn: check_array_echo(e.n, upk_rn, e.expect_reals, kFillReal); break;
    case kCn: check_array_echo(e.n, upk_cn, e.expect_text, kFillChar); break;
  }
}

TEST_F(CommunicatePvm, PackedItemsRoundTripThroughAWorker) {
  start_workers(1);
  const std::string abc(name("abc").view());
  const std::string ab(name("ab").view());
  std::vector<double> forty(kEchoCapacity);
  for (std::size_t j = 0; j < forty.size(); ++j) forty[j] = 0.25 * static_cast<double>(j) - 3.0;
  const std::vector<std::int32_t> fifteen{1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15};
  const std::vector<double> four{1.5, 2.5, 3.5, 4.5};

  struct EchoCase {
    std::string title;
    std::vector<EchoItem> items;  // all appended to one message
  };
  const std::vector<EchoCase> cases = {
      {"single integers and reals", {i1(-5), r1(2.5), i1(2147483647), r1(-0.125), i1(-2147483647 - 1)}},
      {"pk_c1 packs the first character only", {c1(abc, "ayz"), i1(77)}},
      {"pk_rn without stride", {rn(four, 3, std::nullopt, {1.5, 2.5, 3.5})}},
      {"pk_rn with stride 2", {rn(four, 2, 2, {1.5, 3.5})}},
      {"pk_in with stride 3", {in(fifteen, 5, 3, {1, 4, 7, 10, 13})}},
      {"pk_in with n 0 leaves the array untouched", {in(fifteen, 0, std::nullopt, {}), i1(9)}},
      {"pk_cn pads with the blanks of the field", {cn(ab, 4, std::nullopt, "ab  ")}},
      {"pk_cn with stride 2", {cn("abcdef", 3, 2, "ace")}},
      {"pk_rn with n 0", {rn(four, 0, 5, {})}},
      {"a full array", {rn(forty, kEchoCapacity, 1, forty)}},
      {"every kind in one message",
       {i1(1), rn(four, 2, 3, {1.5, 4.5}), cn(abc, 2, std::nullopt, "ab"), c1("q", "qyz"), in(fifteen, 2, 14, {1, 15}),
        r1(1e300)}},
  };
  for (const EchoCase& c : cases) {
    SCOPED_TRACE(c.title);
    std::vector<std::int32_t> kinds;
    for (const EchoItem& e : c.items) kinds.push_back(e.kind);
    pk_i1(kEcho);
    EXPECT_EQ(state().pkset, 1);
    pk_in(kinds, static_cast<std::int32_t>(kinds.size()));
    for (const EchoItem& e : c.items) pack(e);
    destin(kCommandTag, kGroup, 0);
    EXPECT_EQ(state().pkset, 0);

    recv(kReplyTag, kGroup, 0);
    for (const EchoItem& e : c.items) check_echo(e);
    EXPECT_EQ(take_int(), 1) << "the command message held more than its items";
    take_int();
    EXPECT_LT(state().info, 0) << "the reply held more than the echoed items";
  }
  command(kQuit, 0);
}

struct SmallUnpack {
  Kind kind;
  std::int32_t n;
  std::string record;  // "" when the count fits
};

void PrintTo(const SmallUnpack& c, std::ostream* os) {
  *os << (c.kind == kIn ? "upk_in" : c.kind == kRn ? "upk_rn" : "upk_cn") << " of " << c.n << " into "
      << kSmallCapacity;
}

class UnpackCount : public CommunicatePvm, public ::testing::WithParamInterface<SmallUnpack> {};

TEST_P(UnpackCount, LargerThanTheArrayIsRefusedByTheWorker) {
  const SmallUnpack& c = GetParam();
  start_workers(1);
  const std::array<std::int32_t, 3> ints{1, 2, 3};
  const std::array<double, 3> reals{1.0, 2.0, 3.0};
  command(kUpkSmall, 0, [&] {
    pk_i1(c.kind);
    if (c.kind == kIn) pk_in(ints, c.n);
    if (c.kind == kRn) pk_rn(reals, c.n);
    if (c.kind == kCn) pk_cn("abc", c.n);
  });
  if (c.record.empty()) {
    recv(kReplyTag, kGroup, 0);
    EXPECT_EQ(take_int(), c.n);
    command(kQuit, 0);
  } else {
    expect_worker_refused(c.record);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Communicate, UnpackCount,
    ::testing::Values(SmallUnpack{kIn, 2, ""}, SmallUnpack{kIn, 3, " ERROR upk_in: received count outside the array\n"},
                      SmallUnpack{kRn, 3, " ERROR upk_rn: received count outside the array\n"},
                      SmallUnpack{kCn, 3, " ERROR upk_cn: received count outside the text\n"}));

// ---- Send and receive by group and member ----

TEST_F(CommunicatePvm, DestinReachesOneMemberOrTheWholeGroup) {
  start_workers(3);
  constexpr std::int32_t kTag = 8;
  const auto wait_any = [] { pk_i1(kTag); pk_i1(0); pk_i1(0); };

  // The whole group: one multicast reaches every member.
  command(kReceive, std::nullopt, wait_any);
  send_ints(kTag, kGroup, std::nullopt, {111, 222});
  std::vector<std::int32_t> members;
  for (int j = 0; j < 3; ++j) {
    const auto reply = take_reply3();
    EXPECT_EQ(reply[1], 111);
    EXPECT_EQ(reply[2], 222);
    members.push_back(reply[0]);
  }
  std::sort(members.begin(), members.end());
  EXPECT_EQ(members, (std::vector<std::int32_t>{0, 1, 2}));

  // One member: only member 1 gets the first message; the others take the second.
  command(kReceive, std::nullopt, wait_any);
  send_ints(kTag, kGroup, 1, {333, 1});
  EXPECT_EQ(take_reply3(), (std::array<std::int32_t, 3>{1, 333, 1}));
  send_ints(kTag, kGroup, std::nullopt, {444, 0});
  members.clear();
  for (int j = 0; j < 2; ++j) {
    const auto reply = take_reply3();
    EXPECT_EQ(reply[1], 444) << "member " << reply[0];
    members.push_back(reply[0]);
  }
  std::sort(members.begin(), members.end());
  EXPECT_EQ(members, (std::vector<std::int32_t>{0, 2}));
  command(kQuit, std::nullopt);
}

TEST_F(CommunicatePvm, MasterRecvPicksTheSenderAndLeavesOtherMessagesQueued) {
  start_workers(3);
  constexpr std::int32_t kTag = 9;
  // Member `k` sends [k, marker] with kTag; its acknowledgement (another tag)
  // is taken while the kTag message stays queued.
  const auto send_from = [&](std::int32_t k, std::int32_t marker) {
    command(kSend, k, [&] { pk_i1(kTag); pk_i1(marker); });
    recv(kAckTag, kGroup, k);
    EXPECT_EQ(take_int(), k);
  };
  const auto take_pair = [] { return std::array<std::int32_t, 2>{take_int(), take_int()}; };

  send_from(1, 11);
  send_from(0, 10);
  recv(kTag, kGroup);  // member 0 only, although member 1's message came first
  EXPECT_EQ(take_pair(), (std::array<std::int32_t, 2>{0, 10}));
  send_from(2, 12);
  recv(kTag, kGroup, 2);
  EXPECT_EQ(take_pair(), (std::array<std::int32_t, 2>{2, 12}));
  recv(kTag);  // from any task: member 1's message is still there
  EXPECT_EQ(take_pair(), (std::array<std::int32_t, 2>{1, 11}));
  command(kQuit, std::nullopt);
}

TEST_F(CommunicatePvm, WorkerRecvFromAGivenPeerLeavesTheOtherQueued) {
  start_workers(3);
  constexpr std::int32_t kTag = 7;
  // Member `k` sends [k, marker] to member `to` (every member when -1).
  const auto peer_sends = [&](std::int32_t k, std::int32_t to, std::int32_t marker) {
    command(kDestin, k, [&] { pk_i1(kTag); pk_i1(to); pk_i1(marker); });
    recv(kAckTag, kGroup, k);
    take_int();
  };
  peer_sends(1, 0, 100);
  peer_sends(2, 0, 200);
  command(kReceive, 0, [&] { pk_i1(kTag); pk_i1(2); pk_i1(2); });  // from member 2
  EXPECT_EQ(take_reply3(), (std::array<std::int32_t, 3>{0, 2, 200}));
  command(kReceive, 0, [&] { pk_i1(kTag); pk_i1(0); pk_i1(0); });  // from any task
  EXPECT_EQ(take_reply3(), (std::array<std::int32_t, 3>{0, 1, 100}));

  // The group-only form takes member 0's message: member 2 holds one from
  // member 1 first, then member 0 sends to the whole group (a multicast
  // reaches every member but the sender).
  peer_sends(1, 2, 150);
  peer_sends(0, -1, 300);
  for (std::int32_t k : {1, 2}) {
    command(kReceive, k, [&] { pk_i1(kTag); pk_i1(1); pk_i1(0); });
    EXPECT_EQ(take_reply3(), (std::array<std::int32_t, 3>{k, 0, 300}));
  }
  command(kReceive, 2, [&] { pk_i1(kTag); pk_i1(0); pk_i1(0); });
  EXPECT_EQ(take_reply3(), (std::array<std::int32_t, 3>{2, 1, 150}));
  command(kQuit, std::nullopt);
}

TEST_F(CommunicatePvm, RecvLogicFailureKeepsTheReceiveBuffer) {
  const std::vector<Hello> hellos = start_workers(1);
  command(kRecvLogic, 0, [] { pk_i1(4242); });
  recv(kReplyTag, kGroup, 0);
  EXPECT_EQ(take_int(), 0);
  EXPECT_EQ(take_int(), 4242);
  command(kQuit, 0);
  EXPECT_TRUE(wait_until([&] { return process_ended(hellos[0].pid); }));
  EXPECT_EQ(worker_records(hellos[0].pid),
            record("mptid=", hellos[0].mptid) + record("me=", 0) + " ERROR communicate:recv logic falure\n");
}

}  // namespace
