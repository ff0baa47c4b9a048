#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "core/platform/background_priority.hpp"

namespace norvo::platform {

namespace {

// From linux/ioprio.h, which glibc does not wrap.
constexpr int kIoprioWhoProcess = 1;
constexpr int kIoprioClassIdle = 3;
constexpr int kIoprioClassShift = 13;

}  // namespace

bool lowerThisThreadPriority(std::string& error) {
  // Both calls act on one thread when given its thread id.
  pid_t tid = static_cast<pid_t>(::syscall(SYS_gettid));
  bool ok = true;
  if (::syscall(SYS_ioprio_set, kIoprioWhoProcess, tid, kIoprioClassIdle << kIoprioClassShift) !=
      0) {
    error = std::string("idle I/O class refused: ") + std::strerror(errno);
    ok = false;
  }
  if (::setpriority(PRIO_PROCESS, static_cast<id_t>(tid), 19) != 0) {
    error += (error.empty() ? "" : "; ") + std::string("nice 19 refused: ") + std::strerror(errno);
    ok = false;
  }
  return ok;
}

}  // namespace norvo::platform
