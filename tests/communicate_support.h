// Shared pieces of the communicate tests: expected record lines, a test
// directory that is also the working directory, and waiting for an outcome.
#pragma once

#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <string>
#include <string_view>

#include "platform/host.h"
#include "records/field.h"
#include "tests/support/private_vm.h"
#include "tests/support/record_text.h"

namespace commtest_support {

// The text of one list record made of `items`, as the record layer lays it out.
using test_support::record;

// The first record x_sp_c prints: this host's name and its length.
inline std::string mycomp_record() {
  records::NameField mycomp;
  platform::getcompname(mycomp, 30);
  return record("mycomp=", mycomp, " len=", static_cast<std::int32_t>(mycomp.trimmed_length()));
}

// A blank-padded 30-character name.
inline records::NameField name(std::string_view text) { return records::NameField::from(text); }

// A 30-character name padded with NUL characters instead of blanks.
inline records::NameField nul_padded(std::string_view text) {
  records::NameField f;
  for (std::size_t i = 0; i < text.size() && i < f.chars.size(); ++i) f.chars[i] = text[i];
  return f;
}

// A fresh temporary directory that is the working directory while it lives.
// PVM_TMP points into it, so no PVM daemon is found unless a test starts one.
class WorkDir {
 public:
  WorkDir() : dir_("commtest") {
    ::setenv("PVM_TMP", dir_.path().c_str(), 1);
    ::setenv("PVM_ALLOW_ROOT", "1", 1);
    std::filesystem::current_path(dir_.path());
  }
  ~WorkDir() { std::filesystem::current_path("/"); }
  WorkDir(const WorkDir&) = delete;
  WorkDir& operator=(const WorkDir&) = delete;

  const std::string& path() const { return dir_.path(); }
  std::string file(const std::string& n) const { return dir_.file(n); }
  // Contents of fort.1 ("" when there is none).
  std::string fort1() const { return test_support::read_file(file("fort.1")).value_or(""); }

 private:
  test_support::TempDir dir_;
};

// Waits up to 20 s for `done` to hold; returns whether it held.
inline bool wait_until(const std::function<bool()>& done) {
  return test_support::wait_for(done, std::chrono::seconds(20));
}

}  // namespace commtest_support
