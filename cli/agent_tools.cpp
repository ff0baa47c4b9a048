#include "cli/agent_tools.hpp"

namespace norvo::cli {

void registerAgentTools(mcp::ToolRegistry& registry) {
  // Empty until the status digest, process control and suggestions exist; each
  // of wait_for_capacity, kill_ai_process, suggest_quit_apps, disk_usage,
  // cleanup_preview, suggest_cleanup and suggest_uninstall becomes one
  // registry.add({...}) here.
  (void)registry;
}

std::string agentInstructions() {
  return "Zemra Norvo reports how loaded this computer is and how much parallel work an AI agent "
         "may start now (heavy jobs and build threads), with reasons. Check it before starting "
         "builds, test suites or other heavy commands, and pace yourself when it says the machine "
         "is busy. You may stop only runaway processes of your own session; everything that "
         "touches the owner's apps or files is filed as a suggestion for the owner to answer.";
}

}  // namespace norvo::cli
