// Printing a record allocates nothing once the sink's buffer exists: the
// master prints thousands of records per run and the workers print on their
// hot path. Every allocation of this program is counted by a replaced global
// operator new.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <cstdlib>
#include <functional>
#include <new>
#include <string>
#include <vector>

#include "records/channels.h"
#include "records/field.h"
#include "records/format.h"

namespace {
std::atomic<long> allocations{0};
}  // namespace

// The replacements below pair malloc with free, which GCC cannot see through.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
void* operator new(std::size_t size) {
  allocations.fetch_add(1, std::memory_order_relaxed);
  if (void* p = std::malloc(size == 0 ? 1 : size)) return p;
  throw std::bad_alloc();
}
void operator delete(void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
#pragma GCC diagnostic pop

namespace {

// Allocations made by `body`.
long allocations_of(const std::function<void()>& body) {
  const long before = allocations.load();
  body();
  return allocations.load() - before;
}

constexpr records::Channel kSink{42};

class RecordAllocations : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_EQ(records::open_channel(kSink, "/dev/null"), 0); }
  void TearDown() override { records::close_channel(kSink); }
};

struct PrintCase {
  const char* what;
  std::function<void(std::int32_t)> print;
};

TEST_F(RecordAllocations, PrintingARecordAllocatesNothing) {
  const records::NameField host = records::NameField::from("node17.cluster.example");
  const std::int32_t index[records::kIndexValues] = {1, 2, 3, 40, 50, 600, 7, 8, 9, 1000};
  const std::vector<PrintCase> cases = {
      {"plistout record",
       [](std::int32_t k) { records::print(kSink, "plistout(", k, ")=", 1.0 / k); }},
      {"real in exponent form",
       [](std::int32_t k) { records::print(kSink, "plistin(", k, ")=", 1.0e-30 * k); }},
      {"table record over several lines",
       [](std::int32_t k) {
         const double x = k;
         records::print(kSink, "densarray=", x, x + 1, x + 2, x + 3, x + 4, x + 5, x + 6, x + 7,
                        x + 8, x + 9);
       }},
      {"name field", [&host](std::int32_t) { records::print(kSink, "prmhost(1)= ", host); }},
      {"index line",
       [&index](std::int32_t) {
         records::write_index_line(
             kSink, std::span<const std::int32_t, records::kIndexValues>(index, records::kIndexValues));
       }},
  };
  for (const PrintCase& c : cases) {
    c.print(1);  // the first record may size the sink's buffer
    EXPECT_EQ(allocations_of([&c] {
                for (std::int32_t k = 2; k <= 1000; ++k) c.print(k);
              }),
              0)
        << c.what;
  }
}

TEST(RecordFormatting, AppendingToAReservedBufferAllocatesNothing) {
  std::string out;
  out.reserve(4096);
  const long n = allocations_of([&out] {
    for (std::int32_t k = 1; k <= 1000; ++k) {
      out.clear();
      const records::Item items[] = {"plistout(", k, ")=", 1.0 / k};
      records::append_list_record(out, items);
      records::append_real_field(out, -1.0e200 / k);
      records::append_integer_field(out, -k);
    }
  });
  EXPECT_EQ(n, 0);
}

}  // namespace
