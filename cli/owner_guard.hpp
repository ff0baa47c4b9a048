// Commands that act for the owner run as the owner only when no AI agent is
// among the caller's ancestors (or remembered for it). Under an agent they
// apply the agent's rules or refuse, naming the agent tool to use instead.
// This guards against an agent's mistakes, not against a hostile program of
// the same user, which could signal or delete on its own.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

namespace norvo::cli {

// The AI agent the calling process runs under; absent for the owner.
std::optional<int32_t> callingAgent();

// Under an agent: prints one sentence naming `agentTool` on standard error and
// exits with status 1 (CLI::RuntimeError). `command` is what was refused, such
// as "zemnorvo answer".
void refuseUnderAgent(std::string_view command, std::string_view agentTool);

}  // namespace norvo::cli
