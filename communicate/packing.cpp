// Packing helpers: build a message item by item, take a received one apart.
//
// Pack operations start a send buffer (PvmDataDefault, XDR) when pkset is 0
// and append to it otherwise; destin clears pkset. Array operations pack the
// count ahead of the values. A count and stride that would reach outside the
// given array, and a received count outside the receiving array, are refused
// with an "ERROR <operation>: ..." record and kErrorExit before any element
// outside is touched.
#include <pvm3.h>

#include <cstdint>
#include <type_traits>

#include "communicate/communicate.h"
#include "records/channels.h"

namespace communicate {
namespace {

static_assert(std::is_same_v<std::int32_t, int>, "PVM packs int32 items as int");

// Starts a send buffer unless one is being filled.
void begin_message() {
  State& s = state();
  if (s.pkset == 0) {
    s.info = pvm_initsend(PvmDataDefault);
    s.pkset = 1;
  }
}

// True when elements 0, strd, 2*strd, ... of the n packed ones all lie in 0 .. size-1.
bool fits(std::size_t size, std::int32_t n, std::int32_t strd) {
  if (n < 0) return false;
  if (n == 0) return true;
  if (size == 0) return false;
  if (n == 1) return true;
  if (strd < 0) return false;
  return (static_cast<std::int64_t>(n) - 1) * strd < static_cast<std::int64_t>(size);
}

// True when a received count n fits an array of `size` elements.
bool fits_received(std::size_t size, std::int32_t n) {
  return n >= 0 && static_cast<std::size_t>(n) <= size;
}

void pack_count(std::int32_t n) {
  State& s = state();
  s.info = pvm_pkint(&n, 1, 1);
}

}  // namespace

void pk_i1(std::int32_t i) {
  begin_message();
  state().info = pvm_pkint(&i, 1, 1);
}

void pk_r1(double r) {
  begin_message();
  state().info = pvm_pkdouble(&r, 1, 1);
}

void pk_c1(std::string_view c) {
  if (c.empty()) refuse("ERROR pk_c1: empty text");
  begin_message();
  char first = c.front();
  state().info = pvm_pkbyte(&first, 1, 1);
}

void pk_in(std::span<const std::int32_t> i, std::int32_t n, std::optional<std::int32_t> strd) {
  const std::int32_t stride = strd.value_or(1);
  if (!fits(i.size(), n, stride)) refuse("ERROR pk_in: count or stride reaches past the array");
  begin_message();
  pack_count(n);
  state().info = pvm_pkint(const_cast<std::int32_t*>(i.data()), n, stride);
}

void pk_rn(std::span<const double> r, std::int32_t n, std::optional<std::int32_t> strd) {
  const std::int32_t stride = strd.value_or(1);
  if (!fits(r.size(), n, stride)) refuse("ERROR pk_rn: count or stride reaches past the array");
  begin_message();
  pack_count(n);
  state().info = pvm_pkdouble(const_cast<double*>(r.data()), n, stride);
}

void pk_cn(std::string_view c, std::int32_t n, std::optional<std::int32_t> strd) {
  const std::int32_t stride = strd.value_or(1);
  if (!fits(c.size(), n, stride)) refuse("ERROR pk_cn: count or stride reaches past the text");
  begin_message();
  pack_count(n);
  state().info = pvm_pkbyte(const_cast<char*>(c.data()), n, stride);
}

void upk_i1(std::int32_t& i) { state().info = pvm_upkint(&i, 1, 1); }

void upk_r1(double& r) { state().info = pvm_upkdouble(&r, 1, 1); }

void upk_c1(std::span<char> c) {
  if (c.empty()) refuse("ERROR upk_c1: empty text");
  state().info = pvm_upkbyte(c.data(), 1, 1);
}

void upk_in(std::span<std::int32_t> i, std::int32_t& n) {
  State& s = state();
  s.info = pvm_upkint(&n, 1, 1);
  if (!fits_received(i.size(), n)) refuse("ERROR upk_in: received count outside the array");
  s.info = pvm_upkint(i.data(), n, 1);
}

void upk_rn(std::span<double> r, std::int32_t& n) {
  State& s = state();
  s.info = pvm_upkint(&n, 1, 1);
  if (!fits_received(r.size(), n)) refuse("ERROR upk_rn: received count outside the array");
  s.info = pvm_upkdouble(r.data(), n, 1);
}

void upk_cn(std::span<char> c, std::int32_t& n) {
  State& s = state();
  s.info = pvm_upkint(&n, 1, 1);
  if (!fits_received(c.size(), n)) refuse("ERROR upk_cn: received count outside the text");
  s.info = pvm_upkbyte(c.data(), n, 1);
}

}  // namespace communicate
