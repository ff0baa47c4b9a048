#include "cli/owner_guard.hpp"

#include <CLI/CLI.hpp>
#include <cstdio>
#include <string>

#include "core/measure/session.hpp"

namespace norvo::cli {

std::optional<int32_t> callingAgent() { return Session::myAgent(); }

void refuseUnderAgent(std::string_view command, std::string_view agentTool) {
  auto agent = callingAgent();
  if (!agent) return;
  std::fprintf(stderr,
               "%.*s acts for the owner and is refused under an AI agent (pid %d); "
               "agents use the %.*s tool of the agent server instead.\n",
               static_cast<int>(command.size()), command.data(), *agent,
               static_cast<int>(agentTool.size()), agentTool.data());
  throw CLI::RuntimeError(1);
}

}  // namespace norvo::cli
