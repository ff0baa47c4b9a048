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

OwnerQuestion questionFor(const CleanupSuggestion& s) {
  return {s.id, "cleanup", "", s.reason, s.itemIDs, {"clean", "keep"}};
}

OwnerQuestion questionFor(const UninstallSuggestion& s) {
  return {
      s.id, "uninstall", "", s.reason, {s.appName + " (" + s.appPath + ")"}, {"uninstall", "keep"}};
}

Notice noticeFor(const OwnerQuestion& q, Language language, bool serverHasActions) {
  bool en = language == Language::english;
  Notice notice{summaryFor(q, en), q.reason, {}, false};
  for (size_t i = 0; i < std::min(q.what.size(), kMaxListed); ++i)
    notice.body += "\n• " + q.what[i];
  if (q.what.size() > kMaxListed)
    notice.body += fmt::format(fmt::runtime(en ? "\n… and {} more" : "\n… и ещё {}"),
                               q.what.size() - kMaxListed);
  if (serverHasActions) {
    for (const auto& answer : q.answers) notice.actions.emplace_back(answer, label(answer, en));
    notice.actions.emplace_back(defaultAction, en ? "Details" : "Подробнее");
    return notice;
  }
  notice.body += en ? "\nAnswer in a terminal:" : "\nОтветьте в терминале:";
  for (const auto& answer : q.answers) notice.body += "\nzemnorvo answer " + q.id + " " + answer;
  return notice;
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
