#include "cli/suggestion_answer.hpp"

#include <fmt/format.h>

#include <algorithm>
#include <map>

#include "core/assess/text_format.hpp"
#include "core/cleanup/cleanup.hpp"
#include "core/control/quit_plan.hpp"
#include "core/store/norvo_store.hpp"
#include "core/uninstall/uninstall.hpp"

namespace norvo::cli {

namespace {

using text_format::printable;

std::string megabytes(uint64_t bytes) {
  return fmt::format("{:.1f} MiB", static_cast<double>(bytes) / (1024.0 * 1024.0));
}

std::string joined(const std::vector<std::string>& ids) {
  std::string text;
  for (const auto& i : ids) text += (text.empty() ? "" : ", ") + printable(i);
  return text.empty() ? std::string("nothing") : text;
}

}  // namespace

AnswerOutcome answerSuggestion(const std::string& id, const std::string& choice) {
  AnswerOutcome out;
  if (auto cleanup = NorvoStore::cleanup(id);
      cleanup && cleanup->status == "pending" && (choice == "clean" || choice == "keep")) {
    Cleanup::Result result;
    auto answered = Cleanup::answer(*cleanup, choice == "clean", NorvoConfig::load(),
                                    Cleanup::Context::forUser(), &result);
    out.answered = true;
    if (choice == "keep")
      out.lines.push_back(answered.status + ": kept " + joined(answered.itemIDs));
    else
      out.lines.push_back(
          answered.status + ": cleaned " + joined(answered.cleaned) + "; free space grew by " +
          megabytes(static_cast<uint64_t>(std::max<int64_t>(0, answered.freedBytes))));
    for (const auto& [item, why] : result.skipped)
      out.lines.push_back("skipped " + printable(item) + ": " + printable(why));
    for (const auto& e : result.errors) out.errors.push_back(printable(e));
    out.failed = answered.status == "failed";
    return out;
  }
  if (auto u = NorvoStore::uninstall(id);
      u && u->status == "pending" && (choice == "uninstall" || choice == "keep")) {
    Uninstall::Result result;
    auto answered =
        Uninstall::answer(*u, choice == "uninstall", Uninstall::Context::forUser(), &result);
    out.answered = true;
    for (const auto& e : result.errors) out.errors.push_back(printable(e));
    out.lines.push_back(answered.status + ": " + printable(answered.appName) + " " +
                        (answered.removed
                             ? "removed, " + megabytes(static_cast<uint64_t>(answered.bytes))
                             : std::string("kept")));
    out.failed = answered.status == "failed";
    return out;
  }
  auto s = NorvoStore::suggestion(id);
  if (!s || s->status != "pending" || (choice != "quit" && choice != "keep")) return out;
  std::map<std::string, std::string> keptBecause;
  auto answered = QuitPlan::answer(*s, choice == "quit", ProcessTable::shared(),
                                   NorvoStore::directory(), QuitWatch::grace, &keptBecause);
  auto names = [&](const std::vector<std::string>& list) {
    std::string text;
    for (const auto& n : list) {
      text += (text.empty() ? "" : ", ") + printable(n);
      if (auto why = keptBecause.find(n); why != keptBecause.end())
        text += " (" + why->second + ")";
    }
    return text.empty() ? std::string("none") : text;
  };
  out.answered = true;
  out.lines.push_back(answered.status + ": quit " + names(answered.quit) + "; kept " +
                      names(answered.kept));
  return out;
}

}  // namespace norvo::cli
