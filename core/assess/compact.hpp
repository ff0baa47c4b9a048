// The digest that AI agents read through the agent server: small JSON
// dictionaries with fixed snake_case keys and sentences addressed to one agent.
// Sizes, rates and percentages are one-decimal numbers so that the JSON shows
// 12.3 and never a long binary fraction. Everything here is a pure function of
// its arguments except `status(snapshot, limit)`, which asks once per process
// which agent the calling process runs under.
#pragma once

#include <cstdint>
#include <functional>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <vector>

#include "core/assess/norvo_snapshot.hpp"
#include "core/records/json_codec.hpp"
#include "core/records/norvo_store_action.hpp"

namespace norvo::Compact {

// How much the free space of a volume changed since an earlier reading
// (negative when the disk filled), and the date of that reading.
struct FreeChange {
  int64_t bytes = 0;
  Date since{};
};

// Looks up the free-space change of the volume at `path` over `days`, given its
// free bytes now and the current date; absent when the history has nothing.
using FreeChangeLookup = std::function<std::optional<FreeChange>(
    const std::string& path, double days, int64_t currentFreeBytes, Date now)>;

// The text of "%.1f" of `value` read back as a number, so that it encodes with
// at most one decimal; null for NaN and infinities (the digest never carries
// them), and 0 rather than -0.
nlohmann::json oneDecimal(double value);

// One-decimal GB (2^30 bytes) of a byte count.
nlohmann::json gbValue(double bytes);

// The status of the machine for the agent the calling process runs under (its
// own agent pid is found once per process), with at most `processLimit`
// entries per process list; below 1 there are no process lists at all. The
// low-disk block carries no free-space change: this library keeps no disk
// history yet.
nlohmann::json status(const NorvoSnapshot& snapshot, int64_t processLimit);

// The same for an explicit agent pid and free-space history.
nlohmann::json status(const NorvoSnapshot& snapshot, int64_t processLimit,
                      std::optional<int32_t> me, const FreeChangeLookup& freeChange);

// The assessment's advice followed by the sentences about long-running and
// heavy AI processes, worded for the agent `me` (absent: an unknown agent).
std::vector<std::string> advice(const NorvoSnapshot& snapshot, std::optional<int32_t> me);

nlohmann::json sensors(const SensorReport& report);

// One sentence for people and logs: level, health, CPU, memory, disk, thermal
// state, temperature and what an agent may run now.
std::string line(const NorvoSnapshot& snapshot);

// "orphaned", "yours" or "other" for a task of `agentPid` seen by `me`.
std::string session(std::optional<int32_t> agentPid, bool orphaned, std::optional<int32_t> me);

nlohmann::json process(const ProcessSample& sample, std::optional<int32_t> me);
nlohmann::json longCPU(const LongCPUProcess& process, std::optional<int32_t> me);
nlohmann::json app(const AppGroup& group);
// One entry of the actions log: "name", "actor", "kind", "pid", "detail".
nlohmann::json action(const NorvoStore::Action& action);

// Sorted keys, "/" unescaped, two-space indentation when `pretty`. Invalid
// UTF-8 in texts is replaced rather than failing the whole digest; any other
// failure gives "{}". Never throws.
std::string json(const nlohmann::json& value, bool pretty = false);

}  // namespace norvo::Compact
