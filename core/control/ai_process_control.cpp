#include "core/control/ai_process_control.hpp"

#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <functional>
#include <map>
#include <set>
#include <thread>

#include "core/measure/classifier.hpp"
#include "core/platform/process_signal.hpp"
#include "core/platform/record_file.hpp"
#include "core/records/record_fields.hpp"
#include "core/sampling/sampler.hpp"
#include "core/store/norvo_store.hpp"

namespace norvo {

namespace {

using Clock = std::chrono::steady_clock;

std::string joined(const std::vector<int32_t>& pids) {
  std::string text;
  for (int32_t pid : pids) {
    if (!text.empty()) text += ", ";
    text += std::to_string(pid);
  }
  return text;
}

std::string refusal(const ProcessReading& r, const std::string& why) {
  return "Refused to stop " + r.name + " (pid " + std::to_string(r.pid) + "): " + why;
}

// Why `r` may not be stopped by `by`; absent when it may.
std::optional<std::string> refusalFor(const ProcessReading& r, const Classifier& classifier,
                                      const std::map<std::string, int32_t>& lineage,
                                      const StopCaller& by) {
  auto remembered = lineage.find(r.key());
  auto result = classifier.classify(
      r, remembered == lineage.end() ? std::nullopt : std::optional<int32_t>(remembered->second));
  if (auto why = AIProcessControl::refusalByKind(result.category)) return refusal(r, *why);
  if (AIProcessControl::otherSession(by, result.agentPid, result.orphaned)) {
    std::string agent = result.agentPid ? std::to_string(*result.agentPid) : "?";
    return refusal(r, "it belongs to another live AI session (agent pid " + agent +
                          "). Do not disturb it; wait_for_capacity or ask the owner.");
  }
  return std::nullopt;
}

}  // namespace

constexpr auto stopResultFields =
    record_fields::list(record_fields::field("ok", &StopResult::ok),
                        record_fields::field("message", &StopResult::message),
                        record_fields::field("stopped", &StopResult::stopped),
                        record_fields::field("stillRunning", &StopResult::stillRunning));
void to_json(nlohmann::json& j, const StopResult& r) { stopResultFields.write(j, r); }
void from_json(const nlohmann::json& j, StopResult& r) { stopResultFields.read(j, r); }

AIProcessControl::Environment AIProcessControl::Environment::system() {
  return Environment{ProcessTable::shared(), NorvoStore::directory(),
                     static_cast<int32_t>(::getpid())};
}

std::optional<std::string> AIProcessControl::refusalByKind(ProcessCategory category) {
  switch (category) {
    case ProcessCategory::aiTask: return std::nullopt;
    case ProcessCategory::aiAgent: return "it is an AI tool itself (agent CLI or AI app).";
    case ProcessCategory::aiInfra:
      return "it is an MCP server or part of the process chain running this tool.";
    case ProcessCategory::userApp:
      return "it is the owner's app/process, not started by an AI agent. Propose it with "
             "suggest_quit_apps instead.";
    case ProcessCategory::system: break;
  }
  return "it is a system process or belongs to another user.";
}

bool AIProcessControl::otherSession(const StopCaller& by, std::optional<int32_t> agentPid,
                                    bool orphaned) {
  if (by.owner || orphaned) return false;
  return !by.agentPid || !agentPid || *agentPid != *by.agentPid;
}

std::string AIProcessControl::resultMessage(bool force, size_t signalled,
                                            const std::vector<int32_t>& stopped,
                                            const std::vector<int32_t>& stillRunning,
                                            const std::vector<int32_t>& notSignalled) {
  // Appended piece by piece: g++ 12 misreads chains of temporaries here
  // (a false -Warray-bounds).
  std::string text = "Sent ";
  text += force ? "SIGKILL" : "SIGTERM";
  text += " to ";
  text += std::to_string(signalled);
  text += " process(es); ";
  text += std::to_string(stopped.size());
  text += " exited.";
  if (!stillRunning.empty())
    text += " Still running: " + joined(stillRunning) + " — call again with force=true if needed.";
  if (!notSignalled.empty())
    text += " Not signalled: " + joined(notSignalled) +
            " — ended while checking (the pid may now be another process).";
  return text;
}

StopResult AIProcessControl::stop(int32_t pid, bool force, bool includeChildren,
                                  const std::string& reason, const StopCaller& by,
                                  const NorvoConfig& config) {
  try {
    return stop(pid, force, includeChildren, reason, by, config, Environment::system());
  } catch (const std::exception& e) {
    return {false, "Could not stop pid " + std::to_string(pid) + ": " + e.what(), {}, {}};
  }
}

StopResult AIProcessControl::stop(int32_t pid, bool force, bool includeChildren,
                                  const std::string& reason, const StopCaller& by,
                                  const NorvoConfig& config, const Environment& environment) {
  StopResult result;
  try {
    auto readings = environment.table.read(std::chrono::seconds(2));
    auto target = readings.find(pid);
    if (pid < 1 || target == readings.end()) {
      result.message = "No process with pid " + std::to_string(pid) + ".";
      return result;
    }
    const auto& source = environment.table.source();
    auto lineage = Sampler::loadLineage(environment.storeDirectory).value_or(Lineage{});
    Classifier classifier(config, readings, environment.serverPid, source.currentUid());

    if (auto why = refusalFor(target->second, classifier, lineage, by)) {
      result.message = *why;
      result.stillRunning = {pid};
      return result;
    }

    // Deepest first, the target last, so that a parent never outlives the
    // signal to respawn what was just stopped below it.
    std::vector<int32_t> targets;
    if (includeChildren) {
      std::map<int32_t, std::vector<int32_t>> children;
      for (const auto& [child, r] : readings)
        if (child != r.ppid) children[r.ppid].push_back(child);
      for (auto& [parent, list] : children) std::sort(list.begin(), list.end());
      std::set<int32_t> seen{pid};
      std::function<void(int32_t)> walk = [&](int32_t parent) {
        auto it = children.find(parent);
        if (it == children.end()) return;
        for (int32_t child : it->second) {
          if (!seen.insert(child).second) continue;
          walk(child);
          if (!refusalFor(readings.at(child), classifier, lineage, by)) targets.push_back(child);
        }
      };
      walk(pid);
    }
    targets.push_back(pid);

    // Each target is checked, pinned, checked again and signalled through the
    // pin. The second check closes the gap between the first and the pin: if
    // the pid was reused meanwhile, the pin holds the newcomer and its start
    // time differs. After that the pin keeps the number from naming anyone
    // else, so the signal reaches the checked process or nobody.
    int signal = force ? SIGKILL : SIGTERM;
    std::vector<platform::PinnedProcess> signalled;
    std::vector<int32_t> notSignalled;
    for (int32_t t : targets) {
      auto pinned = environment.table.pin(readings.at(t));
      if (!pinned) {
        notSignalled.push_back(t);
        continue;
      }
      if (pinned->send(signal)) signalled.push_back(std::move(*pinned));
    }

    auto alive = [&](const platform::PinnedProcess& p) {
      if (p.exited()) return false;
      auto now = source.basics(p.pid());
      return now && now->startTime == readings.at(p.pid()).startTime && now->state != 'Z';
    };
    auto deadline = Clock::now() + std::chrono::milliseconds(force ? 1000 : 3000);
    std::vector<int32_t> running;
    for (;;) {
      running.clear();
      for (const auto& p : signalled)
        if (alive(p)) running.push_back(p.pid());
      auto now = Clock::now();
      if (running.empty() || now >= deadline) break;
      std::this_thread::sleep_for(
          std::min<Clock::duration>(std::chrono::milliseconds(100), deadline - now));
    }

    std::string signalName = force ? "SIGKILL" : "SIGTERM";
    for (const auto& p : signalled) {
      const auto& name = readings.at(p.pid()).name;
      NorvoStore::log(
          {std::chrono::system_clock::now(), by.owner ? "owner" : "ai", "stop_ai_process", p.pid(),
           name.empty() ? "?" : name, signalName + "; " + reason},
          environment.storeDirectory);
      if (std::find(running.begin(), running.end(), p.pid()) == running.end())
        result.stopped.push_back(p.pid());
    }
    result.ok = true;
    result.stillRunning = running;
    result.message =
        resultMessage(force, signalled.size(), result.stopped, result.stillRunning, notSignalled);
    return result;
  } catch (const std::exception& e) {
    // Reading the table or the lineage failed midway: say so rather than
    // pretend the process does not exist.
    if (result.message.empty())
      result.message = "Could not stop pid " + std::to_string(pid) + ": " + e.what();
    return result;
  }
}

}  // namespace norvo
