// The communicate library: master/worker messaging on a PVM 3.4 virtual machine.
//
// One process-wide state (State, reached through state()) holds the table of
// process groups, the task's own identity, the two value buffers that jobs
// and results travel through, and a few counters. Groups are addressed by
// their 30-character name and members by their 0-based index in the group's
// task-id list. Operations with suffix _c are the master side (it talks to
// its children), _p the worker side (it talks to its parent).
//
// Trace and error records go to output channel 1 (a worker's task output
// file once myinit has opened it, else the file fort.1 of the working
// directory). Every message is XDR-encoded (PvmDataDefault) and made of
// 32-bit integers, IEEE doubles and bytes only.
//
// Nothing reads or writes outside a table or buffer: an unregistered group
// name, a member index outside the group, more tasks or hosts than the tables
// hold, or a received count larger than the array it would fill is refused
// with an "ERROR ..." record on channel 1 (the job queue's records go to
// standard output, beside its trap records), and the process stops with a
// non-zero exit status (the job queue and the master-side group exchanges
// kill the group's members first).
//
// Lost tasks: the receives that wait on other tasks also take PVM's report
// (tag kLossTag) that such a task has ended or that its host has left the
// virtual machine, so a lost task never leaves its partner waiting for ever.
// The job queue gives a lost member's job to another member and goes on; the
// group exchanges that wait for every member stop; a worker whose parent
// ends stops too.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string_view>

#include "records/channels.h"
#include "records/field.h"

namespace communicate {

using records::Field;
using records::NameField;
using EnvField = Field<70>;    // name of an environment variable; a directory
using PathField = Field<100>;  // a file path; a system error text
using TaskId = std::int32_t;   // PVM task id; negative values are PVM error codes

inline constexpr int kMaxGroups = 50;        // entries of the process-group table
inline constexpr int kMaxTids = 33;          // task ids of one group
inline constexpr int kMaxHosts = 32;         // hosts of the virtual machine
inline constexpr int kMaxJobs = 100;         // jobs of one job queue
inline constexpr int kBufferValues = 10000;  // values of r8_frm_p and r8_frm_c
inline constexpr std::int32_t kErrorExit = 1;  // exit status of every stop after an error

// Tag of the loss reports. The job queue, the master-side exchanges that wait
// for every member (x_rdat_c, x_riflg_c) and the worker-side receives ask PVM
// (pvm_notify, PvmTaskExit and PvmHostDelete) to report with this tag when a
// task they wait on ends or its host leaves the virtual machine, and take
// such a report beside the message they wait for. Reserved for the library:
// callers must not send messages with it; x_cque_c, x_rdat_c, x_riflg_c and
// the worker-side receives refuse it as their tag.
inline constexpr std::int32_t kLossTag = 990001;
// Times one job may be lost together with its worker before the job queue
// gives up on it.
inline constexpr std::int32_t kMaxJobLosses = 3;
// Tasks whose loss one task can watch: every member of every group.
inline constexpr int kMaxWatched = kMaxGroups * kMaxTids;

// A fixed array addressed by positions First .. First+N-1, as the messages
// and the records count them. Access outside the positions aborts.
template <class T, int N, int First>
struct Positions {
  std::array<T, static_cast<std::size_t>(N)> values{};

  static constexpr int first() { return First; }
  static constexpr int last() { return First + N - 1; }
  static constexpr bool holds(int position) { return position >= First && position <= last(); }
  T& operator[](int position) { return values[index(position)]; }
  const T& operator[](int position) const { return values[index(position)]; }
  // The elements from `position` on (at most `count` of them).
  std::span<T> from(int position, int count) { return {&(*this)[position], static_cast<std::size_t>(count)}; }
  T* data() { return values.data(); }
  const T* data() const { return values.data(); }

 private:
  static std::size_t index(int position);
};

[[noreturn]] void position_fault(int position, int first, int last);

template <class T, int N, int First>
std::size_t Positions<T, N, First>::index(int position) {
  if (!holds(position)) position_fault(position, First, last());
  return static_cast<std::size_t>(position - First);
}

using TidArray = Positions<TaskId, kMaxTids, 0>;          // positions 0 .. 32
using ValueBuffer = Positions<double, kBufferValues, 1>;  // positions 1 .. 10000

// One process group: a name and the task ids of its members.
struct procinfo {
  NameField exec;          // the group's name
  std::int32_t status = 0; // 0 free, 1 in use
  std::int32_t nproc = 0;  // number of members
  TidArray tids;           // members in positions 0 .. nproc-1
};

// A task whose end, and whose host's deletion, this task has asked PVM to
// report with kLossTag.
struct WatchedTask {
  TaskId tid = 0;         // the task
  TaskId host = 0;        // pvmd task id of its host
  std::int32_t lost = 0;  // 1 once its end or its host's deletion was reported
};

// The process-wide state of the library. Every item starts at zero.
struct State {
  Positions<procinfo, kMaxGroups, 1> p_info;  // entries 1 .. 50
  std::int32_t ifst = 1;                      // 1 until the table is initialised
  TaskId mytid = 0;                           // own task id
  TaskId mptid = 0;                           // parent's task id
  Field<10> cmytid;                           // mytid as left-adjusted text
  std::int32_t me = 0;                        // own member index in the own group
  std::int32_t who = 0;                       // member index of the last result or reply
  std::int32_t info = 0;                      // status of the last PVM call
  std::int32_t pkset = 0;                     // 1 while a packed message is unsent
  ValueBuffer r8_frm_p;                       // values from the parent side
  ValueBuffer r8_frm_c;                       // values from the child side
  std::int32_t snd_c = 0;                     // values per job sent to each child
  std::int32_t rcv_c = 0;                     // values per result from a child
  std::int32_t snd_p = 0;                     // values a worker sends to its parent
  std::int32_t rcv_p = 0;                     // values a worker received from its parent
  // Tasks watched for their loss, entries 1 .. nwatched.
  Positions<WatchedTask, kMaxWatched, 1> watched;
  std::int32_t nwatched = 0;  // tasks watched for their loss
};

// The one instance of the state.
State& state();

// Stops the process: flushes and closes every channel and exits with `status`.
[[noreturn]] void stop(std::int32_t status);

// Writes one record made of `items` (an "ERROR ..." text and the values it
// names) to `channel` and stops with kErrorExit. Every refusal of the
// library ends here.
template <class... Items>
[[noreturn]] void refuse_on(records::Channel channel, const Items&... items) {
  records::print(channel, items...);
  stop(kErrorExit);
}

// The same on channel 1, where the library's records go.
template <class... Items>
[[noreturn]] void refuse(const Items&... items) {
  refuse_on(records::kTrace, items...);
}

// ---- Process-group registry ----

// Puts every table entry into its free state (name "xxx").
void initp_info();
// Index of the first free entry; none (and a record) when the table is full.
std::optional<std::int32_t> newelm();
// Index of the first entry named `exec`; none (and a record) when there is none.
std::optional<std::int32_t> findelm(const NameField& exec);
// Registers a group of `nproc` members; all 33 task ids are stored.
void add2p_info(const NameField& exec, std::int32_t nproc, const TidArray& tids);
// Member count of the group `exec`, or 0 after the findelm error record.
std::int32_t get_nproc(const NameField& exec);
std::int32_t get_me();
TaskId get_mytid();
Field<10> get_cmytid();

// ---- Packing helpers ----
// Pack operations append to the active send buffer, starting one when none
// is being filled. Array operations pack the count n ahead of the values;
// strd is the stride between packed elements (1 when absent).
void pk_i1(std::int32_t i);
void pk_r1(double r);
void pk_c1(std::string_view c);  // the first character only
void pk_in(std::span<const std::int32_t> i, std::int32_t n, std::optional<std::int32_t> strd = {});
void pk_rn(std::span<const double> r, std::int32_t n, std::optional<std::int32_t> strd = {});
void pk_cn(std::string_view c, std::int32_t n, std::optional<std::int32_t> strd = {});
// Unpack operations read from the active receive buffer; array operations
// read the count first and fill consecutive elements from the first.
void upk_i1(std::int32_t& i);
void upk_r1(double& r);
void upk_c1(std::span<char> c);  // into the first character only
void upk_in(std::span<std::int32_t> i, std::int32_t& n);
void upk_rn(std::span<double> r, std::int32_t& n);
void upk_cn(std::span<char> c, std::int32_t& n);

// ---- Addressed send and receive ----
// Sends the packed message to member `ip` of group `prcn`, or to every member.
void destin(std::int32_t msgtype, const NameField& prcn, std::optional<std::int32_t> ip = {});
// Waits for a message with tag `msgtype` from any task, from member 0 of
// `prcn`, or from member `ip` of `prcn`.
void recv(std::int32_t msgtype, const std::optional<NameField>& prcn = {},
          std::optional<std::int32_t> ip = {});

// ---- Worker pool ----
using HostList = Positions<NameField, kMaxHosts, 1>;  // entries 1 .. 32
// Starts `nproc` tasks of `exec` over the hosts, beginning at the own host,
// and registers them as group `exec`; tears the pool down when one fails.
void x_sp_c(const NameField& exec, std::int32_t nproc, std::int32_t strt, std::int32_t shft);
// Rotates the first `ncomp` entries of `array` left by `ishft` positions.
void cmpshft(HostList& array, std::int32_t ishft, std::int32_t ncomp);
// Kills tasks 0 .. nproc-1 of `tids`, leaves the virtual machine and stops.
[[noreturn]] void shutdown(std::int32_t nproc, const TidArray& tids);
// Sends the task ids of group `whosinfo` to every member of `where` (both
// positions absent), or id itm_info to member itm_where (both present).
void x_stids(std::int32_t msgtype, const NameField& whosinfo, const NameField& where,
             std::optional<std::int32_t> itm_info = {}, std::optional<std::int32_t> itm_where = {});
// Worker side: receives the task-id list from the parent, sets me and
// registers the list as group `exec`.
void x_rtids_p(std::int32_t msgtype, const NameField& exec);

// ---- Work distribution, master side ----
// Hands jobs 1 .. ipsz to the members of `exec`, one outstanding job per
// member, and files every result in its job's slot of r8_frm_c. A member
// that ends, or whose host leaves the virtual machine, is lost: the job it
// held goes to the next living member that is free, and a record "LOST
// member" names it and the job on channel 1. The queue stops with an
// "ERROR ..." record on standard output and kErrorExit when no member is
// left while jobs remain, or when one job has been lost kMaxJobLosses times.
void x_cque_c(std::int32_t msgtype, const NameField& exec, std::int32_t ipsz);
// Sends every member the stop notice, one record per member on standard output.
void x_skflg_c(std::int32_t msgtype, const NameField& exec);
// Sends every member its slice of r8_frm_p (flag istat != 0) or the flag 0 alone.
void x_sdat_c(std::int32_t msgtype, const NameField& exec, std::int32_t istat);
// Receives one result per member into r8_frm_c by member index; stops
// (kErrorExit) when a member is lost before its result has come.
void x_rdat_c(std::int32_t msgtype, const NameField& exec);
// Sends every member the flag `flg`.
void x_sflg_c(std::int32_t msgtype, const NameField& exec, std::int32_t flg);
// Calls the members one at a time with a go flag and waits for each reply;
// stops (kErrorExit) when a member is lost before its reply has come.
void x_riflg_c(std::int32_t msgtype, const NameField& exec);

// ---- Work distribution, worker side ----
// Every receive from the parent also ends the worker (a record on channel 1,
// kErrorExit) when the parent task ends while it waits.
// Receives a job, a data slice or the stop notice (istat 0) from the parent.
void x_rdat_p(std::int32_t msgtype, std::int32_t& istat);
// Sends me, snd_p and r8_frm_c(1 .. snd_p) to the parent.
void x_sdat_p(std::int32_t msgtype);
// Receives a flag from the parent.
void x_rflg_p(std::int32_t msgtype, std::int32_t& flg);
// Waits for the parent's go flag.
void x_riflg_p(std::int32_t msgtype);
// Answers the parent's roll call with me.
void x_siflg_p(std::int32_t msgtype);

// ---- Worker start-up and task output ----
// Enrols the task, registers its parent as group `parent`, opens the task
// output file <exec>_std<tid> on channel 1 in the directory named by the
// environment variable `envstring`, and writes the start-up banner.
void myinit(const NameField& exec, const NameField& parent, EnvField& envstring);
// Opens channel `unitnum` on the file `ctemp` in the directory named by the
// variable `envstring` (created when missing); stops the process on failure.
void openf(std::int32_t unitnum, const NameField& ctemp, EnvField& envstring);
// Joins a directory and a file name into a 100-character path.
PathField dir(std::string_view string1, std::string_view string2);

}  // namespace communicate
