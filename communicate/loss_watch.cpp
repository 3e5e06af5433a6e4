// Loss reports: which tasks are watched, which are lost, and the receive
// that takes either the awaited message or a report.
//
// PVM facts relied on: a pvm_notify for a task that has already ended (or
// never existed) is answered at once; every pvm_notify request gives its own
// report, hence one request per task; a report's sender is the daemon, not
// the lost task; pvm_recvf changes the match of every later receive, so it
// is set around one pvm_recv and the previous match is put back at once.
#include "communicate/loss_watch.h"

#include <pvm3.h>

#include "records/channels.h"

namespace communicate {
namespace {

using Match = int (*)(int, int, int);

// Match of receive_or_loss: a loss report whatever its sender, or a message
// with the asked tag (-1: any) from the asked task (-1: any).
int message_or_loss(int bufid, int tid, int tag) {
  int bytes = 0;
  int msgtag = 0;
  int source = 0;
  if (pvm_bufinfo(bufid, &bytes, &msgtag, &source) < 0) return 0;
  if (msgtag == kLossTag) return 1;
  return (tag == -1 || msgtag == tag) && (tid == -1 || source == tid) ? 1 : 0;
}

// The entry of `tid` in the watch table, or 0.
std::int32_t watched_entry(TaskId tid) {
  State& s = state();
  for (std::int32_t k = 1; k <= s.nwatched; ++k) {
    if (s.watched[k].tid == tid) return k;
  }
  return 0;
}

// True when a living watched task runs on `host`: a deletion request for it
// is then pending already.
bool host_watched(TaskId host) {
  State& s = state();
  for (std::int32_t k = 1; k <= s.nwatched; ++k) {
    if (s.watched[k].host == host && s.watched[k].lost == 0) return true;
  }
  return false;
}

}  // namespace

void watch_tasks(std::span<const TaskId> tids) {
  State& s = state();
  for (TaskId tid : tids) {
    if (tid <= 0 || watched_entry(tid) != 0) continue;
    if (s.nwatched >= kMaxWatched) refuse("ERROR watch_tasks: no room to watch one more task");
    TaskId host = pvm_tidtohost(tid);
    const bool host_pending = host_watched(host);
    WatchedTask& entry = s.watched[++s.nwatched];
    entry.tid = tid;
    entry.host = host;
    entry.lost = 0;
    s.info = pvm_notify(PvmTaskExit, kLossTag, 1, &tid);
    if (!host_pending) s.info = pvm_notify(PvmHostDelete, kLossTag, 1, &host);
  }
}

bool task_lost(TaskId tid) {
  const std::int32_t k = watched_entry(tid);
  return k != 0 && state().watched[k].lost != 0;
}

Received receive_or_loss(TaskId from, std::int32_t msgtype) {
  State& s = state();
  // pvm3.h gives pvm_recvf's result a wrong type: it is the previous match.
  const Match previous =
      reinterpret_cast<Match>(reinterpret_cast<void (*)()>(pvm_recvf(message_or_loss)));
  const int bufid = pvm_recv(from, msgtype);
  pvm_recvf(previous);
  s.info = bufid;
  Received got;
  if (bufid < 0) return got;
  int bytes = 0;
  int msgtag = 0;
  int source = 0;
  if (pvm_bufinfo(bufid, &bytes, &msgtag, &source) < 0) return got;
  got.kind = msgtag == kLossTag ? Arrival::loss : Arrival::message;
  got.source = source;
  return got;
}

void take_loss_report() {
  State& s = state();
  TaskId id = 0;
  s.info = pvm_upkint(&id, 1, 1);
  if (id <= 0) return;
  // The ended task itself, or every task of the deleted host.
  for (std::int32_t k = 1; k <= s.nwatched; ++k) {
    WatchedTask& entry = s.watched[k];
    if (entry.tid == id || entry.host == id) entry.lost = 1;
  }
}

std::int32_t member_of(const procinfo& group, TaskId tid) {
  for (std::int32_t i = 0; i < group.nproc; ++i) {
    if (group.tids[i] == tid) return i;
  }
  return -1;
}

std::int32_t receive_from_parent(std::int32_t msgtype, std::string_view ended_record,
                                 std::string_view reserved_record) {
  State& s = state();
  if (msgtype == kLossTag) refuse(reserved_record, msgtype);
  const TaskId parent = s.mptid;
  watch_tasks({&parent, 1});
  for (;;) {
    if (task_lost(parent)) refuse(ended_record, parent);
    const Received got = receive_or_loss(parent, msgtype);
    if (got.kind != Arrival::loss) return s.info;
    take_loss_report();
  }
}

}  // namespace communicate
