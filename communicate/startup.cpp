// Worker start-up and the task output file.
//
// myinit enrols the task, registers its parent as a one-member group, opens
// the task output file <exec>_std<tid> on channel 1 in the directory that an
// environment variable names, and writes the four banner lines. openf turns
// the variable into that directory (creating it when missing), joins it with
// the file name and opens the channel; every failure prints one "ERROR -
// sub. openf" record and stops the process with kErrorExit. dir joins two
// text fields into a 100-character path.
#include <pvm3.h>

#include <algorithm>
#include <cstdio>

#include "communicate/communicate.h"
#include "platform/dirs.h"
#include "platform/host.h"
#include "records/channels.h"

namespace communicate {
namespace {

constexpr std::size_t kPathLength = PathField::kLength;

// `text` without its leading blanks (they are moved to its end by the caller).
std::string_view without_leading_blanks(std::string_view text) {
  const std::size_t lead = text.find_first_not_of(' ');
  return lead == std::string_view::npos ? std::string_view{} : text.substr(lead);
}

// `text` without its trailing blanks.
std::string_view without_trailing_blanks(std::string_view text) {
  const std::size_t last = text.find_last_not_of(' ');
  return last == std::string_view::npos ? std::string_view{} : text.substr(0, last + 1);
}

// A field with its leading blanks moved to its end.
template <std::size_t N>
Field<N> adjusted_left(const Field<N>& field) {
  return Field<N>::from(without_leading_blanks(field.view()));
}

}  // namespace

PathField dir(std::string_view string1, std::string_view string2) {
  PathField path = PathField::blanks();
  std::size_t at = 0;
  auto append = [&](std::string_view text) {
    for (const char c : text) {
      if (at == kPathLength) return;
      path[at++] = c;
    }
  };
  append(without_trailing_blanks(without_leading_blanks(string1)));
  // string2 keeps its trailing blanks; its leading blanks go after them.
  append(without_leading_blanks(string2));
  return path;
}

void openf(std::int32_t unitnum, const NameField& ctemp, EnvField& envstring) {
  const auto envlen = static_cast<std::int32_t>(envstring.trimmed_length());
  platform::fbuff();

  EnvField workdir;
  PathField errorstr;
  std::int32_t flg = platform::kDirUndetermined;
  platform::envarc(envstring.chars, envlen, workdir.chars,
                   static_cast<std::int32_t>(workdir.kLength), flg, errorstr.chars,
                   static_cast<std::int32_t>(errorstr.kLength));
  switch (flg) {
    case platform::kDirTooLong:
      refuse_on(records::kDirErrors, "ERROR - sub. openf: incompatible string length ", flg);
    case platform::kDirNoVariable:
      refuse_on(records::kDirErrors, "ERROR - sub. openf: env. var does not exist ", flg);
    case platform::kDirCannotOpen:
      refuse_on(records::kDirErrors, "ERROR - sub. openf: envarc mkdir error  ", errorstr, " ", flg);
    case platform::kDirCannotCreate:
      refuse_on(records::kDirErrors, "ERROR - sub. openf:Problem mkdir ", errorstr, " ", flg);
    case platform::kDirReady:
      break;
    default:
      refuse("ERROR - sub. openf:TRAP -99 ");
  }

  // The directory part always ends in "/". A directory of 70 characters
  // gets its separator as a 71st; a value of blanks alone (a directory
  // named by blanks in the working directory) leaves the path relative.
  Field<EnvField::kLength + 1> directory = Field<EnvField::kLength + 1>::from(workdir.view());
  const std::size_t wlen = workdir.trimmed_length();
  if (wlen > 0 && workdir[wlen - 1] != '/') directory[wlen] = '/';

  const PathField cffoo = dir(directory.view(), ctemp.view());
  const std::size_t full_length =
      directory.trimmed_length() +
      without_trailing_blanks(without_leading_blanks(ctemp.view())).size();
  if (full_length > kPathLength) {
    refuse_on(records::kDirErrors, "ERROR - sub. openf: path longer than 100 characters ", cffoo);
  }
  if (unitnum < 0 || unitnum >= records::kChannelCount) {
    refuse("ERROR - sub. openf: channel outside 0..99 ", unitnum);
  }

  const records::Channel channel{unitnum};
  records::close_channel(channel);
  const int ios = records::open_channel(channel, cffoo.trimmed_c_text().data());
  if (ios != 0) refuse("ERROR - sub. openf opening file ", cffoo);
  records::print(records::kTrace, "FILE OPENED:", cffoo);
  platform::fbuff();
}

void myinit(const NameField& exec, const NameField& parent, EnvField& envstring) {
  State& s = state();
  s.mytid = pvm_mytid();
  s.mptid = pvm_parent();

  TidArray parent_tids;
  parent_tids[0] = s.mptid;
  add2p_info(parent, 1, parent_tids);

  // The task id right-justified in 10 columns (asterisks when it does not
  // fit), then moved to the left.
  std::array<char, 16> digits{};
  const int written = std::snprintf(digits.data(), digits.size(), "%d", s.mytid);
  const std::string_view number(digits.data(), written > 0 ? static_cast<std::size_t>(written) : 0);
  s.cmytid =
      number.size() <= Field<10>::kLength ? Field<10>::from(number) : Field<10>::from("**********");

  // <exec without blanks>_std<cmytid>, cut after or padded to 30 characters.
  std::array<char, NameField::kLength + 4 + Field<10>::kLength> joined{};
  std::size_t at = 0;
  for (const char c : without_trailing_blanks(without_leading_blanks(exec.view())))
    joined[at++] = c;
  for (const char c : std::string_view("_std")) joined[at++] = c;
  for (const char c : s.cmytid.view()) joined[at++] = c;
  const NameField fname = NameField::from(std::string_view(joined.data(), at));

  openf(1, fname, envstring);

  records::print(records::kTrace, "hey");
  NameField mycomp;
  platform::getcompname(mycomp, static_cast<std::int32_t>(NameField::kLength));
  mycomp = adjusted_left(mycomp);
  records::print(records::kTrace, "This computer =", mycomp);
  records::print(records::kTrace, "mptid=", s.mptid);
  platform::fbuff();
}

}  // namespace communicate
