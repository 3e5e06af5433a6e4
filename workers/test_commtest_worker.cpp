// commtest_worker: a scripted worker that exercises the communicate library
// from the worker side for the tests; its protocol is in commtest_protocol.h.
#include <unistd.h>

#include <array>
#include <cstdint>
#include <string>

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
      case kIn: {
        std::array<std::int32_t, kEchoCapacity> values;
        values.fill(kFillInt);
        std::int32_t n = -1;
        communicate::upk_in(values, n);
        communicate::pk_i1(n);
        communicate::pk_in(values, kEchoCapacity);
        break;
      }
      case kRn: {
        std::array<double, kEchoCapacity> values;
        values.fill(kFillReal);
        std::int32_t n = -1;
        communicate::upk_rn(values, n);
        communicate::pk_i1(n);
        communicate::pk_rn(values, kEchoCapacity);
        break;
      }
      case kCn: {
        std::array<char, kEchoCapacity> text;
        text.fill(kFillChar);
        std::int32_t n = -1;
        communicate::upk_cn(text, n);
        communicate::pk_i1(n);
        communicate::pk_cn(std::string_view(text.data(), text.size()), kEchoCapacity);
        break;
      }
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
  communicate::pk_i1(communicate::get_me());
  communicate::pk_i1(x);
  communicate::pk_i1(y);
  reply(kReplyTag);
}

void unpack_small() {
  const std::int32_t kind = take_int();
  std::int32_t n = -1;
  if (kind == kIn) {
    std::array<std::int32_t, kSmallCapacity> values{};
    communicate::upk_in(values, n);
  } else if (kind == kRn) {
    std::array<double, kSmallCapacity> values{};
    communicate::upk_rn(values, n);
  } else {
    std::array<char, kSmallCapacity> text{};
    communicate::upk_cn(text, n);
  }
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
        communicate::pk_i1(communicate::get_me());
        communicate::pk_i1(marker);
        reply(tag);
        communicate::pk_i1(communicate::get_me());
        reply(kAckTag);
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
        communicate::pk_i1(communicate::get_me());
        reply(kAckTag);
        break;
      }
      case kUpkSmall:
        unpack_small();
        break;
      case kRecvLogic: {
        communicate::recv(kCommandTag, std::nullopt, 0);
        const std::int32_t value = take_int();
        communicate::pk_i1(communicate::get_me());
        communicate::pk_i1(value);
        reply(kReplyTag);
        break;
      }
      default:
        break;
    }
  }
}
