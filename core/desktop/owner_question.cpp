#include "core/desktop/owner_question.hpp"

#include <fmt/format.h>

#include <algorithm>

namespace norvo::desktop {

namespace {

using platform::Language;

constexpr size_t kMaxListed = 6;

std::string size(uint64_t bytes) {
  double mib = static_cast<double>(bytes) / (1024.0 * 1024.0);
  return mib >= 1024 ? fmt::format("{:.1f} GB", mib / 1024) : fmt::format("{:.0f} MB", mib);
}

std::string label(std::string_view answer, bool en) {
  if (answer == "quit") return en ? "Quit" : "Закрыть";
  if (answer == "clean") return en ? "Clean" : "Очистить";
  if (answer == "uninstall") return en ? "Uninstall" : "Удалить";
  if (answer == "keep") return en ? "Keep" : "Оставить";
  return std::string(answer);
}

std::string summaryFor(const OwnerQuestion& q, bool en) {
  std::string who = !q.agent.empty() ? q.agent : (en ? "An AI agent" : "AI-агент");
  if (q.kind == "quit")
    return en ? fmt::format("{} asks you to quit {} app(s)", who, q.what.size())
              : fmt::format("{} предлагает закрыть программы: {}", who, q.what.size());
  if (q.kind == "cleanup")
    return en ? fmt::format("{} asks you to clean {} item(s)", who, q.what.size())
              : fmt::format("{} предлагает очистить: {}", who, q.what.size());
  std::string app = q.what.empty() ? std::string() : q.what.front();
  return en ? fmt::format("{} asks you to uninstall {}", who, app)
            : fmt::format("{} предлагает удалить {}", who, app);
}

}  // namespace

OwnerQuestion questionFor(const QuitSuggestion& s) {
  OwnerQuestion q{s.id, "quit", s.source, s.reason, {}, {"quit", "keep"}};
  for (const auto& item : s.items)
    q.what.push_back(item.name + " (" + size(item.memoryBytes) + ")");
  return q;
}

OwnerQuestion questionFor(const CleanupSuggestion& s, const QuestionSizes& sizes) {
  OwnerQuestion q{s.id, "cleanup", "", s.reason, {}, {"clean", "keep"}};
  int64_t freed = 0;
  bool measured = !s.itemIDs.empty();
  for (const auto& id : s.itemIDs) {
    auto found = sizes.items.find(id);
    if (found == sizes.items.end()) {
      measured = false;
      q.what.push_back(id);
      continue;
    }
    q.what.push_back(id + " (" + size(static_cast<uint64_t>(found->second)) + ")");
    freed += found->second;
  }
  if (measured) q.freedBytes = freed;
  return q;
}

OwnerQuestion questionFor(const UninstallSuggestion& s, const QuestionSizes& sizes) {
  std::string app = s.appName + " (" + s.appPath;
  if (sizes.appBytes) app += ", " + size(static_cast<uint64_t>(*sizes.appBytes));
  OwnerQuestion q{s.id, "uninstall", "", s.reason, {app + ")"}, {"uninstall", "keep"}};
  q.leftoverBytes = sizes.leftoverBytes;
  if (sizes.appBytes && sizes.leftoverBytes) q.freedBytes = *sizes.appBytes + *sizes.leftoverBytes;
  return q;
}

namespace {

// The listed items (all of them, or the first few and how many more), then
// the sizes.
std::string listed(const OwnerQuestion& q, bool en, size_t most) {
  std::string text;
  for (size_t i = 0; i < std::min(q.what.size(), most); ++i) text += "\n• " + q.what[i];
  if (q.what.size() > most)
    text +=
        fmt::format(fmt::runtime(en ? "\n… and {} more" : "\n… и ещё {}"), q.what.size() - most);
  if (q.leftoverBytes)
    text +=
        (en ? "\nIts leftovers: " : "\nОстатки: ") + size(static_cast<uint64_t>(*q.leftoverBytes));
  if (q.freedBytes)
    text +=
        (en ? "\nFrees about " : "\nОсвободит около ") + size(static_cast<uint64_t>(*q.freedBytes));
  return text;
}

}  // namespace

Notice noticeFor(const OwnerQuestion& q, Language language, bool serverHasActions) {
  bool en = language == Language::english;
  Notice notice{summaryFor(q, en), q.reason + listed(q, en, kMaxListed), {}, false};
  if (serverHasActions) {
    for (const auto& answer : q.answers) notice.actions.emplace_back(answer, label(answer, en));
    notice.actions.emplace_back(defaultAction, en ? "Details" : "Подробнее");
    return notice;
  }
  notice.body += en ? "\nAnswer in a terminal:" : "\nОтветьте в терминале:";
  for (const auto& answer : q.answers) notice.body += "\nzemnorvo answer " + q.id + " " + answer;
  return notice;
}

std::string detailsText(const OwnerQuestion& q, Language language) {
  bool en = language == Language::english;
  std::string text = summaryFor(q, en) + "\n\n" + q.reason + "\n" + listed(q, en, q.what.size());
  text += en ? "\n\nAnswer in a terminal:" : "\n\nОтветьте в терминале:";
  for (const auto& answer : q.answers) text += "\nzemnorvo answer " + q.id + " " + answer;
  return text + "\n";
}

std::optional<std::string> answerForAction(const OwnerQuestion& q, std::string_view key) {
  auto found = std::find(q.answers.begin(), q.answers.end(), key);
  if (found == q.answers.end()) return std::nullopt;
  return *found;
}

NoticePlan plan(const std::vector<OwnerQuestion>& pending, const std::set<std::string>& shown) {
  NoticePlan p;
  std::set<std::string> stillPending;
  for (const auto& q : pending) {
    stillPending.insert(q.id);
    if (!shown.count(q.id)) p.show.push_back(q);
  }
  for (const auto& id : shown)
    if (!stillPending.count(id)) p.withdraw.push_back(id);
  return p;
}

Notice criticalNotice(const NorvoSnapshot& snapshot, Language language) {
  bool en = language == Language::english;
  const auto& a = snapshot.assessment;
  Notice notice{en ? "Critical load" : "Критическая нагрузка", "", {}, true};
  const auto& reasons = en ? a.reasons : a.reasonsRu;
  if (!reasons.empty()) notice.body = reasons.front();
  // An agent's heavy task is named first: it is what an agent can stop itself.
  if (!a.heavyAITasks.empty()) {
    const auto& t = a.heavyAITasks.front();
    notice.body +=
        fmt::format(fmt::runtime(en ? "\nHeaviest: {} ({:.0f}% CPU), an AI agent's task"
                                    : "\nТяжелее всего: {} (ЦП {:.0f}%), задача AI-агента"),
                    t.name, t.cpuPercent);
  } else if (!a.quitCandidates.empty()) {
    const auto& app = a.quitCandidates.front();
    notice.body += fmt::format(fmt::runtime(en ? "\nHeaviest: {} ({:.0f}% CPU, {})"
                                               : "\nТяжелее всего: {} (ЦП {:.0f}%, {})"),
                               app.name, app.cpuPercent, size(app.memoryBytes));
  }
  return notice;
}

bool CriticalAlarm::observe(LoadLevel level, Date at) {
  if (level >= LoadLevel::overloaded) calmSince_.reset();
  if (level == LoadLevel::critical) {
    bool fire = armed_;
    armed_ = false;
    return fire;
  }
  if (level < LoadLevel::overloaded) {
    if (!calmSince_) calmSince_ = at;
    if (at - *calmSince_ >= calm_) armed_ = true;
  }
  return false;
}

}  // namespace norvo::desktop
