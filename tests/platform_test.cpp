// Host name field: blank padding, and "error" when the name does not fit.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstring>
#include <string>

#include "platform/host.h"
#include "records/field.h"

namespace {

std::string host_name() {
  char name[300] = {};
  ::gethostname(name, sizeof name - 1);
  return name;
}

TEST(Getcompname, PadsTheNameOrSaysErrorWhenItDoesNotFit) {
  const std::string name = host_name();
  ASSERT_FALSE(name.empty());
  const auto width = static_cast<std::int32_t>(name.size());
  struct Case {
    std::int32_t complen;
    std::string field;  // the first complen characters afterwards
  };
  const Case cases[] = {
      // Room for the name and its NUL: the name, then blanks.
      {width + 1, name + " "},
      {width + 6, name + "      "},
      // The name fills the field with no room for its NUL: "error".
      {width, std::string("error").substr(0, name.size()) +
                  std::string(name.size() > 5 ? name.size() - 5 : 0, ' ')},
  };
  for (const auto& c : cases) {
    char buffer[400];
    std::memset(buffer, '#', sizeof buffer);
    platform::getcompname(std::span<char>(buffer, sizeof buffer), c.complen);
    EXPECT_EQ(std::string(buffer, static_cast<std::size_t>(c.complen)), c.field)
        << "complen " << c.complen;
    EXPECT_EQ(buffer[c.complen], '#') << "wrote past complen " << c.complen;
  }
}

TEST(Getcompname, NeverWritesPastTheField) {
  records::Field<3> small;
  small.chars.fill('#');
  platform::getcompname(std::span<char>(small.chars), 30);  // complen larger than the field
  for (char ch : small.chars) EXPECT_NE(ch, '\0');
  records::NameField name;
  platform::getcompname(name, 30);
  const std::string expected = host_name().size() < 30 ? host_name() : "error";
  EXPECT_EQ(std::string(name.trimmed()), expected);
}

}  // namespace
