#include <sys/prctl.h>
#include <unistd.h>

#include <cstdio>
#include <system_error>

#include "core/platform/linux/named_process_parsers.hpp"
#include "core/platform/linux/text_file.hpp"
#include "core/platform/named_process.hpp"

namespace norvo::platform::named_process {

namespace fs = std::filesystem;

bool exists(const Roots& roots, std::string_view name, uint32_t uid) {
  std::error_code ec;
  fs::directory_iterator it(roots.proc, ec);
  if (ec) return false;
  for (fs::directory_iterator end; it != end; it.increment(ec)) {
    if (ec) return false;
    std::string entry = it->path().filename().string();
    if (!parse::isPidEntry(entry)) continue;
    // The name is the cheap test, so it goes first; the owner is read only for
    // the rare process that matches.
    auto comm = text_file::readText(it->path() / "comm", 4096);
    if (!comm) continue;
    std::string kernelName = parse::commName(*comm);
    if (kernelName.empty()) {
      auto cmdline = text_file::readText(it->path() / "cmdline", 65536);
      if (!cmdline) continue;
      kernelName = parse::cmdlineName(*cmdline);
    }
    if (kernelName != name) continue;
    auto status = text_file::readText(it->path() / "status");
    if (!status) continue;
    if (parse::statusRealUid(*status) == uid) return true;
  }
  return false;
}

bool nameThisProcess(std::string_view name) {
  // PR_SET_NAME renames only the calling thread, which is the process's name
  // only on the main thread; writing /proc/self/comm renames the thread-group
  // leader from any thread (proc(5)).
  std::string text(name.substr(0, 15));
  if (FILE* f = std::fopen("/proc/self/comm", "w")) {
    bool ok = std::fwrite(text.data(), 1, text.size(), f) == text.size();
    ok = std::fclose(f) == 0 && ok;
    if (ok) return true;
  }
  if (::getpid() != ::gettid()) return false;
  return ::prctl(PR_SET_NAME, text.c_str(), 0, 0, 0) == 0;
}

}  // namespace norvo::platform::named_process
