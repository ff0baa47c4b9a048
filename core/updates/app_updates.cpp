#include "core/updates/app_updates.hpp"

#include <algorithm>
#include <atomic>
#include <cctype>
#include <mutex>
#include <system_error>
#include <thread>

#include "core/platform/http_client.hpp"
#include "core/records/record_fields.hpp"

namespace norvo::AppUpdates {

void to_json(nlohmann::json& j, Source source) { j = std::string(rawValue(source)); }

void from_json(const nlohmann::json& j, Source& source) {
  auto parsed = sourceFromRaw(j.get<std::string>());
  if (!parsed) throw nlohmann::json::type_error::create(302, "unknown update source", &j);
  source = *parsed;
}

namespace {

constexpr auto updateFields = record_fields::list(
    record_fields::field("name", &Update::name), record_fields::field("path", &Update::path),
    record_fields::field("installed", &Update::installed),
    record_fields::field("available", &Update::available),
    record_fields::field("source", &Update::source), record_fields::field("link", &Update::link),
    record_fields::field("release", &Update::release));

constexpr auto reportFields = record_fields::list(
    record_fields::field("date", &Report::date), record_fields::field("updates", &Report::updates),
    record_fields::field("checked", &Report::checked),
    record_fields::field("notChecked", &Report::notChecked),
    record_fields::field("failed", &Report::failed),
    record_fields::field("tooNew", &Report::tooNew));

constexpr int kConcurrentChecks = 4;
constexpr int kAttempts = 3;
constexpr std::chrono::seconds kWaits[] = {std::chrono::seconds(3), std::chrono::seconds(6)};

std::vector<uint64_t> numbers(std::string_view text) {
  std::vector<uint64_t> out;
  size_t i = 0;
  while (i < text.size()) {
    if (!std::isdigit(static_cast<unsigned char>(text[i]))) {
      ++i;
      continue;
    }
    size_t end = i;
    while (end < text.size() && std::isdigit(static_cast<unsigned char>(text[end]))) ++end;
    // Nine digits always fit; a longer piece is cut rather than overflowing.
    auto piece = text.substr(i, std::min<size_t>(end - i, 9));
    uint64_t value = 0;
    for (char c : piece) value = value * 10 + static_cast<uint64_t>(c - '0');
    out.push_back(value);
    i = end;
  }
  return out;
}

// Case-insensitive order of names; ties fall back to the exact text so the
// order does not depend on the order the checks finished in.
bool nameBefore(const std::string& a, const std::string& b) {
  auto lower = [](unsigned char c) { return std::tolower(c); };
  auto ia = a.begin(), ib = b.begin();
  for (; ia != a.end() && ib != b.end(); ++ia, ++ib) {
    int ca = lower(static_cast<unsigned char>(*ia)), cb = lower(static_cast<unsigned char>(*ib));
    if (ca != cb) return ca < cb;
  }
  if (a.size() != b.size()) return a.size() < b.size();
  return a < b;
}

std::optional<std::string> text(const nlohmann::json& j, const char* key) {
  auto it = j.find(key);
  if (it == j.end() || !it->is_string()) return std::nullopt;
  return it->get<std::string>();
}

// The body, or absent after three failed attempts with the waits between.
std::optional<std::string> fetchWithRetries(const std::string& address,
                                            const CheckOptions& options) {
  for (int attempt = 0; attempt < kAttempts; ++attempt) {
    try {
      return options.fetch(address);
    } catch (const std::exception&) {
      if (attempt + 1 < kAttempts && options.wait) options.wait(kWaits[attempt]);
    }
  }
  return std::nullopt;
}

Outcome checkOne(const Candidate& c, const CheckOptions& options) {
  if (c.source == Source::appStore) {
    auto body = fetchWithRetries(storeAddress(options.store, c.app.bundleID.value_or("")), options);
    if (!body) return {Outcome::Kind::failed, std::nullopt, c.app.name};
    return storeOutcome(c, readStoreEntry(*body, options.store, c.app.bundleID.value_or("")),
                        options.os);
  }
  auto body = fetchWithRetries(*c.feed, options);
  if (!body) return {Outcome::Kind::failed, std::nullopt, c.app.name};
  return appcastOutcome(c, readAppcast(*body), options.os);
}

}  // namespace

std::string_view rawValue(Source source) {
  switch (source) {
    case Source::appStore: return "appStore";
    case Source::sparkle: return "sparkle";
    case Source::zemra: return "zemra";
  }
  return "appStore";
}

std::optional<Source> sourceFromRaw(std::string_view raw) {
  for (auto s : {Source::appStore, Source::sparkle, Source::zemra})
    if (rawValue(s) == raw) return s;
  return std::nullopt;
}

void to_json(nlohmann::json& j, const Update& u) { updateFields.write(j, u); }
void from_json(const nlohmann::json& j, Update& u) { updateFields.read(j, u); }
void to_json(nlohmann::json& j, const Report& r) { reportFields.write(j, r); }
void from_json(const nlohmann::json& j, Report& r) { reportFields.read(j, r); }

bool isNewer(std::string_view a, std::string_view b) {
  auto x = numbers(a), y = numbers(b);
  if (x.empty() || y.empty()) return false;
  for (size_t i = 0; i < std::max(x.size(), y.size()); ++i) {
    uint64_t p = i < x.size() ? x[i] : 0, q = i < y.size() ? y[i] : 0;
    if (p != q) return p > q;
  }
  return false;
}

std::string versionText(const OSVersion& os) {
  return std::to_string(os.major) + "." + std::to_string(os.minor) + "." + std::to_string(os.patch);
}

std::optional<Candidate> candidate(const Uninstall::App& app,
                                   const platform::UpdateSource& source) {
  if (source.fromStore && app.bundleID && !app.bundleID->empty())
    return Candidate{app, source.build, Source::appStore, std::nullopt};
  if (source.metadataRead && source.feed && SelfUpdate::httpsHost(*source.feed))
    return Candidate{app, source.build, Source::sparkle, source.feed};
  return std::nullopt;
}

std::string storeAddress(std::string_view store, std::string_view appID) {
  return std::string(store) + "/api/v2/appstream/" + std::string(appID);
}

std::optional<StoreEntry> readStoreEntry(std::string_view json, std::string_view store,
                                         std::string_view appID) {
  auto parsed = json_codec::decode(json);
  if (!parsed || !parsed->is_object()) return std::nullopt;
  auto releases = parsed->find("releases");
  if (releases == parsed->end() || !releases->is_array() || releases->empty() ||
      !releases->front().is_object())
    return std::nullopt;
  auto version = text(releases->front(), "version");
  if (!version) return std::nullopt;
  StoreEntry entry{*version, std::string(store) + "/apps/" + std::string(appID), std::nullopt};
  if (auto requires_ = parsed->find("requires");
      requires_ != parsed->end() && requires_->is_object())
    entry.minimumOS = text(*requires_, "kernel");
  return entry;
}

Outcome storeOutcome(const Candidate& c, const std::optional<StoreEntry>& entry,
                     const OSVersion& os) {
  if (!entry || !c.app.version || !isNewer(entry->version, *c.app.version)) return {};
  if (entry->minimumOS && isNewer(*entry->minimumOS, versionText(os)))
    return {Outcome::Kind::tooNew, std::nullopt, c.app.name};
  return {
      Outcome::Kind::update,
      Update{c.app.name, c.app.path, *c.app.version, entry->version, Source::appStore, entry->link},
      {}};
}

Outcome appcastOutcome(const Candidate& c, const std::optional<std::vector<AppcastItem>>& items,
                       const OSVersion& os) {
  if (!items) return {};
  const AppcastItem* newest = nullptr;
  for (const auto& item : *items) {
    if (item.onChannel || item.build.empty()) continue;
    if (item.minimumOS && isNewer(*item.minimumOS, versionText(os))) continue;
    if (!newest || isNewer(item.build, newest->build)) newest = &item;
  }
  if (!newest) return {};
  bool newer = false;
  if (c.build)
    newer = isNewer(newest->build, *c.build);
  else if (c.app.version)
    newer = isNewer(newest->shortVersion.value_or(newest->build), *c.app.version);
  if (!newer) return {};
  auto installed = c.app.version ? *c.app.version : c.build.value_or("");
  return {Outcome::Kind::update,
          Update{c.app.name, c.app.path, installed, newest->shortVersion.value_or(newest->build),
                 Source::sparkle, newest->notes},
          {}};
}

Report check(const std::vector<Uninstall::App>& apps, const CheckOptions& options) {
  std::vector<Candidate> candidates;
  for (const auto& app : apps) {
    platform::UpdateSource source;
    if (options.inspect) source = options.inspect(app);
    if (auto c = candidate(app, source)) candidates.push_back(std::move(*c));
  }
  Report report;
  report.checked = static_cast<int64_t>(candidates.size());
  report.notChecked = static_cast<int64_t>(apps.size() - candidates.size());

  std::vector<Outcome> outcomes(candidates.size());
  std::atomic<size_t> next{0};
  std::mutex progressLock;
  int64_t done = 0;
  auto worker = [&] {
    for (size_t i = next++; i < candidates.size(); i = next++) {
      try {
        outcomes[i] = checkOne(candidates[i], options);
      } catch (const std::exception&) {
        // A reading step that throws despite its checks (an allocation
        // failure) fails this app only.
        outcomes[i] = {Outcome::Kind::failed, std::nullopt, candidates[i].app.name};
      }
      std::lock_guard lock(progressLock);
      ++done;
      if (options.progress) options.progress(done, report.checked);
    }
  };
  std::vector<std::thread> workers;
  size_t count = std::min<size_t>(kConcurrentChecks, candidates.size());
  for (size_t i = 0; i < count; ++i) {
    try {
      workers.emplace_back(worker);
    } catch (const std::system_error&) {
      break;  // out of threads: the ones started, or this one, do the rest
    }
  }
  if (workers.empty()) worker();
  for (auto& t : workers) t.join();

  for (auto& o : outcomes) {
    switch (o.kind) {
      case Outcome::Kind::update: report.updates.push_back(std::move(*o.update)); break;
      case Outcome::Kind::failed: report.failed.push_back(o.name); break;
      case Outcome::Kind::tooNew: report.tooNew.push_back(o.name); break;
      case Outcome::Kind::none: break;
    }
  }

  if (options.own) {
    const auto& own = *options.own;
    try {
      auto retrying = [&](const std::string& address) {
        auto body = fetchWithRetries(address, options);
        if (!body) throw platform::HttpError("the update server did not answer");
        return *body;
      };
      if (auto release = SelfUpdate::check(own.version, own.build, retrying, options.self))
        report.updates.push_back(Update{std::string(productName), own.path, own.version,
                                        release->version, Source::zemra, std::string(zemraPage),
                                        *release});
    } catch (const std::exception&) {
      report.failed.push_back(std::string(productName));
    }
  }

  std::sort(report.updates.begin(), report.updates.end(),
            [](const Update& a, const Update& b) { return nameBefore(a.name, b.name); });
  std::sort(report.failed.begin(), report.failed.end());
  std::sort(report.tooNew.begin(), report.tooNew.end());
  report.date = std::chrono::system_clock::now();
  return report;
}

Fetch live(const platform::HttpOptions& http) {
  return [http](const std::string& address) { return platform::httpGet(address, http); };
}

}  // namespace norvo::AppUpdates
