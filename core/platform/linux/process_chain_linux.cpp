#include <unistd.h>

#include <set>
#include <system_error>

#include "core/platform/linux/process_chain_parsers.hpp"
#include "core/platform/linux/text_file.hpp"
#include "core/platform/process_chain.hpp"

namespace norvo::platform::process_chain {

std::map<int32_t, ProcessReading> read(int32_t pid, const Roots& roots) {
  std::map<int32_t, ProcessReading> out;
  std::optional<uint64_t> boot;
  if (auto stat = text_file::readText(roots.proc / "stat")) boot = parse::bootTime(*stat);
  long ticksPerSecond = sysconf(_SC_CLK_TCK);
  if (ticksPerSecond < 1) ticksPerSecond = 100;

  std::set<int32_t> seen;
  while (pid >= 2 && seen.insert(pid).second) {
    auto folder = roots.proc / std::to_string(pid);
    auto statText = text_file::readText(folder / "stat");
    if (!statText) break;
    auto stat = parse::processStat(*statText);
    if (!stat) break;

    ProcessReading r;
    r.pid = pid;
    r.ppid = stat->ppid;
    r.responsiblePid = pid;
    r.name = stat->comm;
    // Whole seconds, rounded down, as every other reader of start times here.
    r.startTime = boot.value_or(0) + stat->startTicks / static_cast<uint64_t>(ticksPerSecond);
    if (auto raw = text_file::readText(folder / "cmdline")) r.arguments = parse::commandLine(*raw);
    std::error_code ec;
    auto exe = std::filesystem::read_symlink(folder / "exe", ec);
    // The name stays the kernel's: agents set their process title ("claude")
    // while running from a versioned binary or under node, and only the kernel
    // name follows the title; the executable's file name does not.
    if (!ec) r.path = exe.string();
    out[pid] = std::move(r);
    pid = stat->ppid;
  }
  return out;
}

}  // namespace norvo::platform::process_chain
