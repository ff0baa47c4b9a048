#include <cstdio>

#include "cli/bounded_read.hpp"
#include "cli/build_pool.hpp"
#include "cli/commands.hpp"
#include "cli/hook_status.hpp"
#include "core/integration/claude_hook.hpp"

namespace norvo::cli {

namespace {

// Claude Code gives the hook 5 seconds; reading must leave time for the status.
constexpr auto kReadTimeout = std::chrono::milliseconds(1500);
constexpr std::size_t kMaxInputBytes = 1024 * 1024;

void runHook() {
  // Whatever goes wrong, the agent's tool must go on: no output, exit status 0.
  try {
    auto input = readBounded(0, kMaxInputBytes, kReadTimeout);
    if (input.tooLarge) return;
    auto event = claude_hook::parseEvent(input.data);
    if (!event || !claude_hook::wantsStatus(*event)) return;
    auto status = hookStatus();
    if (!status) return;
    adviseBuilds(*event, *status);
    if (auto out = claude_hook::respond(*event, *status)) {
      std::fwrite(out->data(), 1, out->size(), stdout);
      std::fputc('\n', stdout);
      std::fflush(stdout);
    }
  } catch (const std::exception& e) {
    // The hook never blocks the agent; the reason goes where Claude Code logs it.
    std::fprintf(stderr, "zemnorvo hook: %s\n", e.what());
  }
}

}  // namespace

void addHookCommand(CLI::App& app) {
  auto* cmd =
      app.add_subcommand("hook", "Answer a Claude Code hook event read from standard input");
  // Claude Code may add arguments in later versions; they must not fail the hook.
  cmd->allow_extras();
  cmd->callback([] { runHook(); });
}

}  // namespace norvo::cli
