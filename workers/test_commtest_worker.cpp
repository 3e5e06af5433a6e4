// commtest_worker: a scripted worker that exercises the communicate library
// from the worker side for the tests; its protocol is in commtest_protocol.h.
#include <unistd.h>

#include <array>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "communicate/communicate.h"
#include "records/channels.h"
#include "workers/commtest_protocol.h"

namespace {

using communicate::NameField;
using communicate::state;
using namespace commtest;

const NameField kGroup = NameField::from(kWorkerName);
const NameField kParent = NameField::from(kParentName);

std::int32_t take_int() {
  std::int32_t v = 0;
  communicate::upk_i1(v);
  return v;
}

void reply(std::int32_t tag) { communicate::destin(tag, kParent, 0); }

// Replies with `tag`: this task's member index, then `values`, one integer each.
template <class... Ints>
void reply_with_me(std::int32_t tag, Ints... values) {
  communicate::pk_i1(communicate::get_me());
  (communicate::pk_i1(values), ...);
  reply(tag);
}

// The counted-array calls of the library, by element type.
void upk_counted(std::span<std::int32_t> values, std::int32_t& n) {
  communicate::upk_in(values, n);
}
void upk_counted(std::span<double> values, std::int32_t& n) {
  communicate::upk_rn(values, n);
}
void upk_counted(std::span<char> text, std::int32_t& n) {
  communicate::upk_cn(text, n);
}
void pk_counted(std::span<const std::int32_t> values, std::int32_t n) {
  communicate::pk_in(values, n);
}
void pk_counted(std::span<const double> values, std::int32_t n) {
  communicate::pk_rn(values, n);
}
void pk_counted(std::span<const char> text, std::int32_t n) {
  communicate::pk_cn(std::string_view(text.data(), text.size()), n);
}

// Echoes a counted array: unpacks it into kEchoCapacity elements prefilled
// with `fill`, packs back its count and the whole array.
template <class T>
void echo_array(T fill) {
  std::array<T, kEchoCapacity> values;
  values.fill(fill);
  std::int32_t n = -1;
  upk_counted(values, n);
  communicate::pk_i1(n);
  pk_counted(values, kEchoCapacity);
}

// Unpacks a counted array into kSmallCapacity elements; returns its count.
template <class T>
std::int32_t unpack_into_small() {
  std::array<T, kSmallCapacity> values{};
  std::int32_t n = -1;
  upk_counted(values, n);
  return n;
}

// Reports who this task is and the group registered as `name`.
void hello(const NameField& name) {
  communicate::pk_i1(communicate::get_me());
  communicate::pk_i1(communicate::get_mytid());
  communicate::pk_i1(state().mptid);
  communicate::pk_i1(static_cast<std::int32_t>(::getpid()));
  const std::int32_t n = communicate::get_nproc(name);
  const std::optional<std::int32_t> k = communicate::findelm(name);
  const std::int32_t* ids = k ? state().p_info[*k].tids.data() : nullptr;
  communicate::pk_in(std::span<const std::int32_t>(ids, k ? static_cast<std::size_t>(n) : 0U), k ? n : 0);
  reply(kReplyTag);
}

void echo() {
  std::array<std::int32_t, kEchoCapacity> kinds{};
  std::int32_t nkinds = 0;
  communicate::upk_in(kinds, nkinds);
  for (std::int32_t j = 0; j < nkinds; ++j) {
    switch (kinds[static_cast<std::size_t>(j)]) {
      case kI1:
        communicate::pk_i1(take_int());
        break;
      case kR1: {
        double r = 0.0;
        communicate::upk_r1(r);
        communicate::pk_r1(r);
        break;
      }
      case kC1: {
        std::array<char, 3> text{'x', 'y', 'z'};
        communicate::upk_c1(text);
        communicate::pk_cn(std::string_view(text.data(), text.size()), 3);
        break;
      }
      case kIn:
        echo_array(kFillInt);
        break;
      case kRn:
        echo_array(kFillReal);
        break;
      case kCn:
        echo_array(kFillChar);
        break;
      default:
        break;
    }
  }
  std::int32_t probe = 0;
  communicate::upk_i1(probe);
  communicate::pk_i1(state().info < 0 ? 1 : 0);
  reply(kReplyTag);
}

void receive() {
  const std::int32_t tag = take_int();
  const std::int32_t form = take_int();
  const std::int32_t ip = take_int();
  if (form == 0) {
    communicate::recv(tag);
  } else if (form == 1) {
    communicate::recv(tag, kGroup);
  } else {
    communicate::recv(tag, kGroup, ip);
  }
  const std::int32_t x = take_int();
  const std::int32_t y = take_int();
  reply_with_me(kReplyTag, x, y);
}

void unpack_small() {
  const std::int32_t kind = take_int();
  const std::int32_t n = kind == kIn   ? unpack_into_small<std::int32_t>()
                         : kind == kRn ? unpack_into_small<double>()
                                       : unpack_into_small<char>();
  communicate::pk_i1(n);
  reply(kReplyTag);
}

}  // namespace

int main() {
  const std::string trace = "commtest." + std::to_string(::getpid()) + ".1";
  records::open_channel(records::kTrace, trace.c_str());

  communicate::x_rtids_p(kTidsTag, kGroup);
  communicate::TidArray parent;
  parent[0] = state().mptid;
  communicate::add2p_info(kParent, 1, parent);
  hello(kGroup);

  for (;;) {
    communicate::recv(kCommandTag, kParent);
    switch (take_int()) {
      case kQuit:
        communicate::stop(0);
      case kTids: {
        std::array<char, NameField::kLength> chars{};
        std::int32_t n = 0;
        communicate::upk_cn(chars, n);
        NameField name;
        name.chars = chars;
        communicate::x_rtids_p(kTidsTag, name);
        hello(name);
        break;
      }
      case kEcho:
        echo();
        break;
      case kSend: {
        const std::int32_t tag = take_int();
        const std::int32_t marker = take_int();
        reply_with_me(tag, marker);
        reply_with_me(kAckTag);
        break;
      }
      case kReceive:
        receive();
        break;
      case kDestin: {
        const std::int32_t tag = take_int();
        const std::int32_t ip = take_int();
        const std::int32_t marker = take_int();
        communicate::pk_i1(communicate::get_me());
        communicate::pk_i1(marker);
        communicate::destin(tag, kGroup, ip < 0 ? std::nullopt : std::optional<std::int32_t>(ip));
        reply_with_me(kAckTag);
        break;
      }
      case kUpkSmall:
        unpack_small();
        break;
      case kRecvLogic: {
        communicate::recv(kCommandTag, std::nullopt, 0);
        const std::int32_t value = take_int();
        reply_with_me(kReplyTag, value);
        break;
      }
      default:
        break;
    }
  }
}
