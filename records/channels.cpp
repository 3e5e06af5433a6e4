#include "records/channels.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

namespace records {
namespace {

struct ChannelTable {
  std::array<int, kChannelCount> fd;  // -1: not open
  ChannelTable() { fd.fill(-1); }
};

ChannelTable& table() {
  static ChannelTable t;
  return t;
}

// The formatting buffer of the sink, reused by every record.
std::string& scratch() {
  static std::string buffer = [] {
    std::string s;
    s.reserve(4096);
    return s;
  }();
  return buffer;
}

std::size_t checked_index(Channel channel) {
  if (channel.number < 0 || channel.number >= kChannelCount) {
    std::fprintf(stderr, "records: output channel %d is outside 0..%d\n", channel.number,
                 kChannelCount - 1);
    std::abort();
  }
  return static_cast<std::size_t>(channel.number);
}

int open_file(const char* path) {
  int fd;
  do {
    fd = ::open(path, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
  } while (fd < 0 && errno == EINTR);
  return fd;
}

// The descriptor records on `channel` go to, opening fort.<n> on first use.
int descriptor(Channel channel) {
  const std::size_t i = checked_index(channel);
  int& fd = table().fd[i];
  if (fd >= 0) return fd;
  if (channel == kStdout) return STDOUT_FILENO;
  const std::string name = "fort." + std::to_string(channel.number);
  fd = open_file(name.c_str());
  if (fd < 0) {
    std::fprintf(stderr, "records: cannot open %s for channel %d\n", name.c_str(), channel.number);
  }
  return fd;
}

void write_all(int fd, std::string_view text) {
  if (fd < 0) return;
  while (!text.empty()) {
    const ssize_t n = ::write(fd, text.data(), text.size());
    if (n < 0) {
      if (errno == EINTR) continue;
      return;
    }
    text.remove_prefix(static_cast<std::size_t>(n));
  }
}

void emit(Channel channel, const std::string& text) {
  // Text printed through C stdio (a "dperrno = " line) keeps its place ahead
  // of the record when both go to standard output.
  if (channel == kStdout) std::fflush(stdout);
  write_all(descriptor(channel), text);
}

}  // namespace

void write_list(Channel channel, std::span<const Item> items) {
  std::string& out = scratch();
  out.clear();
  append_list_record(out, items);
  emit(channel, out);
}

void write_index_line(Channel channel, std::span<const std::int32_t, kIndexValues> values) {
  std::string& out = scratch();
  out.clear();
  append_index_line(out, values);
  emit(channel, out);
}

int open_channel(Channel channel, const char* path) {
  close_channel(channel);
  const int fd = open_file(path);
  if (fd < 0) return errno == 0 ? EIO : errno;
  table().fd[checked_index(channel)] = fd;
  return 0;
}

void close_channel(Channel channel) {
  int& fd = table().fd[checked_index(channel)];
  if (fd >= 0) {
    ::close(fd);
    fd = -1;
  }
}

void flush_all() { std::fflush(nullptr); }

void close_all() {
  flush_all();
  for (int& fd : table().fd) {
    if (fd >= 0) {
      ::close(fd);
      fd = -1;
    }
  }
}

}  // namespace records
