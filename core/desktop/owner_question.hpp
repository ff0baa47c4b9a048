// What the desktop companion asks the owner: one notification per pending
// suggestion of an agent, its answers as buttons, and one warning when the
// load turns critical. Everything here is plain values; the bus and the store
// are the command's business.
#pragma once

#include <chrono>
#include <cstdint>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "core/assess/norvo_snapshot.hpp"
#include "core/platform/owner_language.hpp"
#include "core/store/cleanup_suggestion.hpp"
#include "core/store/quit_suggestion.hpp"
#include "core/store/uninstall_suggestion.hpp"

namespace norvo::desktop {

// A pending suggestion as the owner is asked about it.
struct OwnerQuestion {
  std::string id;
  std::string kind;   // "quit", "cleanup" or "uninstall"
  std::string agent;  // who asked; empty when the record does not say
  std::string reason;
  std::vector<std::string> what;           // the apps, items or app it would act on
  std::vector<std::string> answers;        // the choices of `zemnorvo answer`, "keep" last
  std::optional<int64_t> leftoverBytes{};  // an uninstall's leftovers, when measured
  std::optional<int64_t> freedBytes{};     // all that accepting would free, when measured
};

// What a cleanup or an uninstall would free, measured when the owner is first
// asked; what was not measured in time stays absent and unsaid.
struct QuestionSizes {
  std::map<std::string, int64_t> items;  // cleanup item id → bytes
  std::optional<int64_t> appBytes{}, leftoverBytes{};
};

OwnerQuestion questionFor(const QuitSuggestion& s);
OwnerQuestion questionFor(const CleanupSuggestion& s, const QuestionSizes& sizes = {});
OwnerQuestion questionFor(const UninstallSuggestion& s, const QuestionSizes& sizes = {});

// The whole question as plain text for the default action: every item, the
// sizes, and the commands that answer it.
std::string detailsText(const OwnerQuestion& question, platform::Language language);

// A notification's content: `actions` are (key, label) pairs in button order.
struct Notice {
  std::string summary;
  std::string body;
  std::vector<std::pair<std::string, std::string>> actions;
  bool urgent = false;
};

// The action key of a click on the notification itself (freedesktop
// notifications: "default").
inline constexpr std::string_view defaultAction = "default";

// With `serverHasActions`, one button per answer (its key the answer) and the
// default action; otherwise no actions and the body names the command to
// answer with.
Notice noticeFor(const OwnerQuestion& question, platform::Language language, bool serverHasActions);

// The answer a pressed action stands for: one of the question's own answers.
// Absent for the default action and for any other key.
std::optional<std::string> answerForAction(const OwnerQuestion& question, std::string_view key);

// Which notifications to send and which to withdraw: questions pending but
// not yet shown, and shown ids no longer pending (answered elsewhere).
struct NoticePlan {
  std::vector<OwnerQuestion> show;
  std::vector<std::string> withdraw;
};
NoticePlan plan(const std::vector<OwnerQuestion>& pending, const std::set<std::string>& shown);

// The warning for a critical tick: the first reason and what is heaviest,
// saying when it is an agent's work.
Notice criticalNotice(const NorvoSnapshot& snapshot, platform::Language language);

// Warns once when the load turns critical, and again only after it has been
// below overloaded for `calm` without a break: a level that flickers between
// critical and overloaded is one episode, not a notification per tick.
class CriticalAlarm {
 public:
  explicit CriticalAlarm(std::chrono::seconds calm = std::chrono::minutes(5)) : calm_(calm) {}
  // Whether the tick at `level`, dated `at`, calls for the warning.
  bool observe(LoadLevel level, Date at);

 private:
  std::chrono::seconds calm_;
  bool armed_ = true;
  std::optional<Date> calmSince_;
};

}  // namespace norvo::desktop
