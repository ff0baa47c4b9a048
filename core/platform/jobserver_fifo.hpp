// The FIFO that carries the machine-wide build-token pool: one byte per
// token, read by a client before it starts a job and written back when the
// job ends (GNU make's jobserver protocol). The pool's keeper makes it at
// $XDG_RUNTIME_DIR/ZemraNorvo/jobserver, mode 0600, and holds an exclusive
// flock on it while it keeps the pool, so a client can tell a kept pool
// from a FIFO left behind. Every open refuses a link, anything that is not
// a FIFO, another user's FIFO and one open to other users; the checks run
// on the opened descriptor, so a name swapped after the check changes
// nothing.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "core/platform/roots.hpp"

namespace norvo::platform {

// $XDG_RUNTIME_DIR/ZemraNorvo/jobserver; absent when XDG_RUNTIME_DIR is unset
// or not absolute (the XDG Base Directory rules call such a value invalid).
std::optional<std::filesystem::path> jobserverPath();

class JobserverFifo {
 public:
  enum class Outcome { opened, missing, notKept, refused, failed };

  // The keeper's side: makes the folder (0700) and the FIFO (0600) when
  // missing, reuses a FIFO already there (old clients may still hold it),
  // opens it read-write and takes the keeper's lock, waiting up to a second
  // for a client that is looking at the lock. `error` says why otherwise.
  static std::optional<JobserverFifo> keep(const std::filesystem::path& path, Outcome& outcome,
                                           std::string& error);

  // A client's side: opens the FIFO read-write, only while a keeper holds it
  // (`notKept` otherwise, `missing` when there is no FIFO).
  static std::optional<JobserverFifo> join(const std::filesystem::path& path, Outcome& outcome,
                                           std::string& error);

  JobserverFifo(JobserverFifo&& other) noexcept;
  JobserverFifo& operator=(JobserverFifo&& other) noexcept;
  JobserverFifo(const JobserverFifo&) = delete;
  JobserverFifo& operator=(const JobserverFifo&) = delete;
  ~JobserverFifo();

  int fd() const { return fd_; }

  // The tokens waiting in the FIFO (FIONREAD); absent when it cannot be asked.
  std::optional<int64_t> available() const;
  // Writes `count` tokens; false with the reason in `error`.
  bool put(int64_t count, std::string& error) const;
  // Takes up to `count` tokens without waiting; how many it got.
  int64_t takeWithoutWaiting(int64_t count) const;
  // Waits for one token and takes it: false when interrupted (see
  // interruptTake) or failed. Waiting in read(2) matters: the kernel wakes
  // one blocked reader per written byte in turn, while a poller races every
  // busy client for it and seldom wins.
  bool takeOne() const;

  // The processes other than `self` that hold this FIFO open, found by
  // device and inode in each /proc/PID/fd (processes we may not look into
  // cannot open a 0600 FIFO of ours either); absent when /proc cannot be read.
  // With `among`, only those processes are looked at: a few directories
  // instead of every process's.
  std::optional<std::vector<pid_t>> holders(const Roots& roots, pid_t self,
                                            const std::vector<pid_t>* among = nullptr) const;

  // Gives `count` tokens back once this process, and whatever it execs, has
  // ended: a detached keeper waits for the end of a pipe whose write end
  // stays open across exec, so the build needs no parent waiting for it.
  // False with the reason in `error` when the keeper cannot start.
  bool returnAtExit(int64_t count, std::string& error) const;

  // Makes the descriptor survive exec and block on reads, as make expects
  // of the descriptor it inherits; false with the reason in `error`.
  bool inheritable(std::string& error) const;

 private:
  explicit JobserverFifo(int fd, dev_t device, ino_t inode)
      : fd_(fd), device_(device), inode_(inode) {}
  int fd_ = -1;
  dev_t device_ = 0;
  ino_t inode_ = 0;
};

// Ends a takeOne() that `thread` is blocked in (a signal without SA_RESTART);
// harmless when it is not blocked, so callers repeat it until the thread
// says it left the read.
void interruptTake(std::thread& thread);

}  // namespace norvo::platform
