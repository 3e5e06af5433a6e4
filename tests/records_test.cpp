// Record layouts: real and integer fields, list records, index lines, channels.
#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <cstdint>
#include <filesystem>
#include <limits>
#include <string>
#include <vector>

#include "records/channels.h"
#include "records/format.h"
#include "tests/support/private_vm.h"
#include "tests/support/record_text.h"

namespace {

using test_support::record;

std::string real_field(double x) {
  std::string s;
  records::append_real_field(s, x);
  return s;
}

std::string blanks(int n) { return std::string(static_cast<std::size_t>(n), ' '); }

struct RealCase {
  double value;
  std::string field;
};

TEST(RealField, LaysOutFixedAndExponentForms) {
  const double below_tenth = std::nextafter(0.1, 0.0);
  const std::vector<RealCase> cases = {
      {1.0, blanks(2) + "1.00000000000000" + blanks(5)},
      {0.5, blanks(1) + "0.500000000000000" + blanks(5)},
      {0.1, blanks(1) + "0.100000000000000" + blanks(5)},
      {12345.678, blanks(2) + "12345.6780000000" + blanks(5)},
      {-2.5, blanks(1) + "-2.50000000000000" + blanks(5)},
      {123456789012345.0, blanks(2) + "123456789012345." + blanks(5)},
      {-123456789012345.0, blanks(1) + "-123456789012345." + blanks(5)},
      {0.0, blanks(2) + "0.00000000000000D+000"},
      {-0.0, blanks(2) + "0.00000000000000D+000"},
      {0.001, blanks(2) + "1.00000000000000D-003"},
      {-0.05, blanks(1) + "-5.00000000000000D-002"},
      {6.02e23, blanks(2) + "6.02000000000000D+023"},
      {200.0, blanks(2) + "200.000000000000" + blanks(5)},
      {400.0, blanks(2) + "400.000000000000" + blanks(5)},
      {1.5, blanks(2) + "1.50000000000000" + blanks(5)},
      // The largest double below 0.1 is not in fixed form; it rounds to 0.1.
      {below_tenth, blanks(2) + "1.00000000000000D-001"},
      {1e15, blanks(2) + "1.00000000000000D+015"},
      {-1e15, blanks(1) + "-1.00000000000000D+015"},
      // Rounding carries into a new leading digit.
      {9.999999999999999, blanks(2) + "10.0000000000000" + blanks(5)},
      {0.9999999999999999, blanks(2) + "1.00000000000000" + blanks(5)},
      // Just below 1e15, rounding to 15 digits reaches 1e15: exponent form.
      {999999999999999.9, blanks(2) + "1.00000000000000D+015"},
      // An exact tie at the 16th digit rounds half up, not to even.
      {1234567890123445.0, blanks(2) + "1.23456789012345D+015"},
      {1234567890123455.0, blanks(2) + "1.23456789012346D+015"},
      {0.125, blanks(1) + "0.125000000000000" + blanks(5)},
      {1.7976931348623157e308, blanks(2) + "1.79769313486232D+308"},
      {4.9406564584124654e-324, blanks(2) + "4.94065645841247D-324"},
      {std::numeric_limits<double>::quiet_NaN(), std::string(23, '?')},
      {std::numeric_limits<double>::infinity(), std::string(23, '+')},
      {-std::numeric_limits<double>::infinity(), std::string(23, '-')},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(real_field(c.value), c.field) << "value " << c.value;
    EXPECT_EQ(real_field(c.value).size(), 23u);
  }
}

TEST(IntegerField, RightAlignsInElevenColumns) {
  const std::vector<std::pair<std::int32_t, std::string>> cases = {
      {0, blanks(10) + "0"},
      {1, blanks(10) + "1"},
      {-5, blanks(9) + "-5"},
      {2147483647, " 2147483647"},
      {-2147483647 - 1, "-2147483648"},
  };
  for (const auto& [value, field] : cases) {
    std::string s;
    records::append_integer_field(s, value);
    EXPECT_EQ(s, field);
  }
}

TEST(ListRecord, PlacesItemsLikeTheDriverRecords) {
  EXPECT_EQ(record("ict=", 1), " ict= " + blanks(10) + "1\n");
  EXPECT_EQ(record("ipopsize=", 1), " ipopsize= " + blanks(10) + "1\n");
  const std::string plistin = record("plistin(", 1, ")=", 200.0);
  EXPECT_EQ(plistin, " plistin( " + blanks(10) + "1 )=   200.000000000000" + blanks(5) + "\n");
  EXPECT_EQ(plistin.size(), 49u);  // 48 columns and the line feed
}

TEST(ListRecord, SplitsATableTwoThreeThreeTwo) {
  const std::string zero = blanks(3) + "0.00000000000000D+000";
  const std::string one = "   1.00000000000000" + blanks(5);
  const std::string two = "   2.00000000000000" + blanks(5);
  const std::string three = "   3.00000000000000" + blanks(5);
  const std::string expected = " densarray=" + one + two + "\n" +  //
                               three + zero + zero + "\n" +       //
                               zero + zero + zero + "\n" +        //
                               zero + zero + "\n";
  const std::array<double, 10> table{1.0, 2.0, 3.0};
  EXPECT_EQ(test_support::record_of("densarray=", table), expected);
  // Line lengths 59, 72, 72, 48.
  std::vector<std::size_t> lengths;
  std::size_t start = 0;
  for (std::size_t i = 0; i < expected.size(); ++i) {
    if (expected[i] == '\n') {
      lengths.push_back(i - start);
      start = i + 1;
    }
  }
  EXPECT_EQ(lengths, (std::vector<std::size_t>{59, 72, 72, 48}));
}

TEST(ListRecord, WrapsAtColumnEighty) {
  // After a 55-column text two integers end exactly in column 80 (1+55+12+12)...
  const std::string t55(55, 'a');
  EXPECT_EQ(record(t55.c_str(), 7, 8), " " + t55 + blanks(11) + "7" + blanks(11) + "8\n");
  // ...and one column more would end the second in column 81: it starts a new line.
  const std::string t56(56, 'a');
  EXPECT_EQ(record(t56.c_str(), 7, 8), " " + t56 + blanks(11) + "7\n" + blanks(11) + "8\n");
  // Six integers fill 72 columns; the seventh would end in column 84.
  EXPECT_EQ(record(1, 2, 3, 4, 5, 6, 7),
            blanks(11) + "1" + blanks(11) + "2" + blanks(11) + "3" + blanks(11) + "4" +
                blanks(11) + "5" + blanks(11) + "6\n" + blanks(11) + "7\n");
}

TEST(ListRecord, PlacesTextItems) {
  // Text after text gets no blank; text after a number gets one.
  EXPECT_EQ(record("ab", "cd"), " abcd\n");
  EXPECT_EQ(record("n=", 3, " x"), " n=" + blanks(11) + "3  x\n");
  // A name field keeps its trailing blanks, so the next blank follows them.
  const auto name = records::NameField::from("beta");
  EXPECT_EQ(record("mycomp=", name, " len=", 4),
            " mycomp=beta" + blanks(26) + " len=" + blanks(11) + "4\n");
  // A text running past column 80 continues after one blank on a new line.
  const std::string long_text(100, 'x');
  EXPECT_EQ(record(long_text.c_str()),
            " " + std::string(79, 'x') + "\n " + std::string(21, 'x') + "\n");
  // A text after a number that leaves one column: blank and first char do not fit.
  const std::string t67(67, 'a');
  EXPECT_EQ(record(t67.c_str(), 1, "zz"), " " + t67 + blanks(11) + "1\n zz\n");
  // No items: one blank.
  EXPECT_EQ(record(), " \n");
}

TEST(IndexLine, WritesTenThreeColumnFields) {
  struct Case {
    std::array<std::int32_t, 10> values;
    std::string line;
  };
  const std::vector<Case> cases = {
      {{2, 2, 2, 2, 2, 1, 1, 1, 1, 1},
       "   2   2   2   2   2   1   1   1   1   1\n"},
      {{0, -5, -99, -100, 999, 1000, 7, 10, 100, 3},
       "   0  -5 -99 *** 999 ***   7  10 100   3\n"},
  };
  for (const auto& c : cases) {
    std::string s;
    records::append_index_line(s, c.values);
    EXPECT_EQ(s, c.line);
  }
}

TEST(Channels, UnopenedChannelWritesFortFileFromItsStart) {
  test_support::TempDir dir("records");
  test_support::write_file(dir.file("fort.7"), "stale-stale-stale\n");
  const std::string cwd = std::filesystem::current_path();
  std::filesystem::current_path(dir.path());
  records::print(records::Channel{7}, "first", 1);
  records::print(records::Channel{7}, "second");
  ASSERT_EQ(records::open_channel(records::Channel{8}, "named.txt"), 0);
  records::print(records::Channel{8}, "to file");
  records::close_all();
  std::filesystem::current_path(cwd);
  EXPECT_EQ(test_support::read_file(dir.file("fort.7")).value_or("missing"),
            " first" + blanks(11) + "1\n second\n");
  EXPECT_EQ(test_support::read_file(dir.file("named.txt")).value_or("missing"), " to file\n");
  EXPECT_FALSE(std::filesystem::exists(dir.file("fort.8")));
}

}  // namespace
