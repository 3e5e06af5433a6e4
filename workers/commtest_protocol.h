// The scripted test worker commtest_worker and the tests that drive it share
// these tags, command codes and item kinds.
//
// The worker opens channel 1 on the file commtest.<pid>.1 of its working
// directory, takes the task-id list with x_rtids_p (tag kTidsTag) as group
// kWorkerName, registers its parent as the one-member group kParentName and
// sends a hello to it. It then obeys commands (tag kCommandTag, from its
// parent; the first item is the command code) until kQuit.
//
// hello (tag kReplyTag): me, mytid, mptid, pid, and the group the last
//   x_rtids_p registered as a counted integer array.
// kTids name(30 chars, counted text): x_rtids_p(kTidsTag, name), then a hello for `name`.
// kEcho kinds(counted integers) items...: unpacks every item by its kind and
//   packs it back into one reply (tag kReplyTag), then one more integer: 1
//   when the command message held nothing after the items, else 0.
//     kI1, kR1: the value.  kC1: upk_c1 into the text "xyz", packed back with
//     pk_cn(text, 3).  kIn, kRn, kCn: upk_* into an array of kEchoCapacity
//     elements prefilled with kFillInt / kFillReal / kFillChar, packed back as
//     pk_i1(n) and the whole array.
// kSend tag marker: sends [me, marker] to the parent with `tag`, then [me] with kAckTag.
// kReceive tag form ip: recv(tag) (form 0), recv(tag, group) (form 1) or
//   recv(tag, group, ip) (form 2) on its own group; unpacks two integers x, y
//   and replies [me, x, y] with kReplyTag.
// kDestin tag ip marker: packs [me, marker] and destin(tag, group, ip), or to
//   the whole group when ip is -1; then [me] with kAckTag to the parent.
// kUpkSmall kind: unpacks the counted array that follows into an array of
//   kSmallCapacity elements, then replies [n].
// kRecvLogic value: recv(kCommandTag, no group, member 0), then unpacks one
//   integer (still from the command message) and replies [me, that integer].
// kQuit: stops with exit status 0.
#pragma once

#include <cstdint>

namespace commtest {

inline constexpr const char* kWorkerName = "commtest_worker";
inline constexpr const char* kParentName = "commtest_parent";

inline constexpr std::int32_t kTidsTag = 1;
inline constexpr std::int32_t kCommandTag = 2;
inline constexpr std::int32_t kReplyTag = 4;
inline constexpr std::int32_t kAckTag = 5;

enum Command : std::int32_t {
  kQuit = 0,
  kTids = 1,
  kEcho = 2,
  kSend = 3,
  kReceive = 4,
  kDestin = 5,
  kUpkSmall = 6,
  kRecvLogic = 7,
};

enum Kind : std::int32_t { kI1 = 1, kR1, kC1, kIn, kRn, kCn };

inline constexpr int kEchoCapacity = 40;
inline constexpr int kSmallCapacity = 2;
inline constexpr std::int32_t kFillInt = -7;
inline constexpr double kFillReal = -7.5;
inline constexpr char kFillChar = '*';

}  // namespace commtest
