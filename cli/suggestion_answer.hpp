// The owner's answer to an agent's suggestion, as one function shared by
// `zemnorvo answer` and the desktop companion's buttons, so that a click and
// the command cannot answer differently.
#pragma once

#include <string>
#include <vector>

namespace norvo::cli {

struct AnswerOutcome {
  bool answered = false;            // false: no pending suggestion takes that choice
  bool failed = false;              // answered, but what was accepted could not be done
  std::vector<std::string> lines;   // what was done, for the owner
  std::vector<std::string> errors;  // why parts of it failed
};

// Answers pending suggestion `id` with `choice` ("quit", "clean",
// "uninstall" or "keep") as the owner: quits, cleans or uninstalls what it
// names on acceptance and moves it to the done folder with the outcome that
// the agent reads back. The caller has made sure the owner asked for it.
AnswerOutcome answerSuggestion(const std::string& id, const std::string& choice);

}  // namespace norvo::cli
