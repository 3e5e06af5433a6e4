// Numbered output channels and the printing sink.
//
// Channel 6 is standard output. A channel that nothing opened writes to the
// file "fort.<n>" in the working directory, which its first record creates or
// rewrites from its start. open_channel() attaches a channel to a named file
// (created with mode 0666 less the umask, rewritten from its start).
// Every record is formatted in memory and handed to the operating system with
// write(2) as soon as it is complete: nothing is held back, so a task that is
// killed keeps every record it printed. Channel numbers run from 0 to 99.
#pragma once

#include <array>
#include <cstdint>
#include <span>

#include "records/format.h"

namespace records {

inline constexpr int kChannelCount = 100;  // channels 0 .. 99

// A channel number, checked against 0 .. 99 where it is used.
struct Channel {
  int number;
  friend constexpr bool operator==(Channel, Channel) = default;
};

inline constexpr Channel kTrace{1};        // library trace and error records
inline constexpr Channel kStdout{6};       // standard output
inline constexpr Channel kDirErrors{99};   // output-directory failures

// Writes one list record.
void write_list(Channel channel, std::span<const Item> items);

// Writes one list record made of the given items, in order.
template <class... Items>
void print(Channel channel, const Items&... items) {
  const std::array<Item, sizeof...(Items)> list{Item(items)...};
  write_list(channel, list);
}

// Writes one index line of ten integers.
void write_index_line(Channel channel, std::span<const std::int32_t, kIndexValues> values);

// Opens `channel` on the file `path`, closing whatever it had open first.
// Returns 0 on success, else the errno of the failed open.
int open_channel(Channel channel, const char* path);

// Closes `channel` if it is open on a file; later records go to fort.<n>.
void close_channel(Channel channel);

// Pushes buffered C stdio output (text printed outside the records) to the
// operating system. Records themselves are never buffered.
void flush_all();

// Flushes and closes every channel, as at the end of the process.
void close_all();

}  // namespace records
