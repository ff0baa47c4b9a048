// Which installed apps have a newer version: apps installed from Flathub are
// looked up in Flathub's public app data, apps that name an HTTPS appcast are
// checked against it, and the product itself against its own update feed.
// At most four checks run at once; each fetch is tried three times. Nothing
// is installed.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/platform/update_source.hpp"
#include "core/records/json_codec.hpp"
#include "core/uninstall/uninstall_app.hpp"
#include "core/updates/appcast_reader.hpp"
#include "core/updates/self_update.hpp"

namespace norvo::AppUpdates {

enum class Source { appStore, sparkle, zemra };
std::string_view rawValue(Source source);
std::optional<Source> sourceFromRaw(std::string_view raw);
// As its raw text; an unknown text fails to decode.
void to_json(nlohmann::json& j, Source source);
void from_json(const nlohmann::json& j, Source& source);

struct Update {
  std::string name;
  std::string path;
  std::string installed;
  std::string available;
  Source source = Source::appStore;
  std::optional<std::string> link{};
  std::optional<SelfUpdate::Release> release{};

  const std::string& id() const { return path; }
  friend bool operator==(const Update&, const Update&) = default;
};

struct Report {
  Date date{};
  std::vector<Update> updates;
  int64_t checked = 0;
  int64_t notChecked = 0;
  std::vector<std::string> failed;
  std::vector<std::string> tooNew;

  friend bool operator==(const Report&, const Report&) = default;
};

void to_json(nlohmann::json& j, const Update& u);
void from_json(const nlohmann::json& j, Update& u);
void to_json(nlohmann::json& j, const Report& r);
void from_json(const nlohmann::json& j, Report& r);

using OSVersion = platform::OSVersion;
using Fetch = SelfUpdate::Fetch;

// An app with an update source.
struct Candidate {
  Uninstall::App app;
  std::optional<std::string> build;
  Source source = Source::appStore;  // appStore or sparkle
  std::optional<std::string> feed;
};

struct Outcome {
  enum class Kind { update, failed, tooNew, none };
  Kind kind = Kind::none;
  std::optional<Update> update;
  std::string name;  // for failed and tooNew
};

inline constexpr std::string_view productName = "Zemra Norvo";
inline constexpr std::string_view zemraPage = "https://vadro.com/zemra-norvo";
inline constexpr std::string_view defaultStore = "https://flathub.org";

// Whether version text `a` is newer than `b`: both split into numbers at
// every non-digit (pieces cut to 9 digits), compared position by position
// with missing positions 0. False when either has no number.
bool isNewer(std::string_view a, std::string_view b);

// "major.minor.patch".
std::string versionText(const OSVersion& os);

// The candidate `app` makes with what its files state, or absent: from the
// store when installed from it and the app has an id, else from an appcast
// when the feed is HTTPS (plain HTTP is never checked).
std::optional<Candidate> candidate(const Uninstall::App& app, const platform::UpdateSource& source);

// The store lookup and its reading: the newest release's version, the app's
// page and a stated minimum kernel.
struct StoreEntry {
  std::string version;
  std::optional<std::string> link;
  std::optional<std::string> minimumOS;
};
std::string storeAddress(std::string_view store, std::string_view appID);
std::optional<StoreEntry> readStoreEntry(std::string_view json, std::string_view store,
                                         std::string_view appID);

// The outcome of a store lookup, or of an appcast, for `c` (pure rules).
Outcome storeOutcome(const Candidate& c, const std::optional<StoreEntry>& entry,
                     const OSVersion& os);
Outcome appcastOutcome(const Candidate& c, const std::optional<std::vector<AppcastItem>>& items,
                       const OSVersion& os);

// The running product: its version, build and the installed path.
struct Own {
  std::string version;
  std::string build;
  std::string path;
};

struct CheckOptions {
  std::optional<Own> own;
  OSVersion os;
  Fetch fetch;
  // The retry waits (3 s, then 6 s); tests pass one that only records.
  std::function<void(std::chrono::seconds)> wait;
  // What each app states about its updates.
  std::function<platform::UpdateSource(const Uninstall::App&)> inspect;
  std::string store{defaultStore};
  SelfUpdate::Settings self;
  // Called after each finished check with the number done and the total.
  std::function<void(int64_t done, int64_t total)> progress;
};

// Checks `apps` (see the header). Never throws: a source that failed three
// times lists the app in `failed`; an answer that cannot be read gives no update.
Report check(const std::vector<Uninstall::App>& apps, const CheckOptions& options);

// The fetcher used in production: platform::httpGet with the 15-second timeout.
Fetch live(const platform::HttpOptions& http = {});

}  // namespace norvo::AppUpdates
