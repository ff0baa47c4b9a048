// Keeps the product current from the maker's own update server: reads the
// release description "version.json", downloads the release tarball, checks
// its SHA-256 and the maker's signature, stages the unpacked tree and finally
// swaps the installed tree for it with a detached script that waits for the
// product to quit.
//
// The installed tree is a folder named "zemra-norvo" that a release tarball
// was unpacked into (bin/zemnorvo, share/zemra-norvo/manifest.json, …). Only
// release tarballs carry the manifest (`cmake --install` leaves it out unless
// asked for the "release" component), and only such a folder is ever
// swapped, so an install into a shared prefix such as ~/.local or /usr/local
// is never replaced wholesale. The work folder
// is $XDG_CACHE_HOME/ZemraNorvo/update with "update.tar.gz", its signature
// "update.tar.gz.sig", the staged tree "new" and, during the swap, "old".
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>

#include "core/platform/http_client.hpp"
#include "core/records/json_codec.hpp"

namespace norvo::SelfUpdate {

struct Release {
  std::string version;
  std::string build;
  std::string url;     // the tarball, over HTTPS on the update host
  std::string sha256;  // of the tarball, lower-case hexadecimal

  friend bool operator==(const Release&, const Release&) = default;
};

void to_json(nlohmann::json& j, const Release& r);
void from_json(const nlohmann::json& j, Release& r);

enum class Step { downloading, verifying, ready };
std::string_view rawValue(Step step);

// Every failure of the self-update, with the message the owner sees.
struct Failure : std::runtime_error {
  using std::runtime_error::runtime_error;
  std::string message() const { return what(); }
};

inline constexpr std::string_view bundleID = "com.vadro.ZemraNorvo";
inline constexpr std::string_view feedPath = "/apps/norvo/version.json";
inline constexpr std::string_view defaultFeedBase = "https://updates.vadro.com";
// The variable that points the feed elsewhere: a base address such as
// "https://127.0.0.1:8443", to which feedPath is appended.
inline constexpr std::string_view feedVariable = "ZEMNORVO_UPDATE_FEED";
// The manifest the build writes into the installed tree.
inline constexpr std::string_view manifestPath = "share/zemra-norvo/manifest.json";
// The name of the installed tree's folder.
inline constexpr std::string_view treeName = "zemra-norvo";
// The measuring loop's user unit, restarted after a swap when it runs.
inline constexpr std::string_view serviceUnit = "zemnorvo-watch.service";

// The messages of the failures.
inline constexpr std::string_view kCannotParse = "cannot parse the response of the update server";
inline constexpr std::string_view kDigestDiffers = "SHA-256 does not match version.json";
inline constexpr std::string_view kNotOurs = "not Zemra Norvo";
inline constexpr std::string_view kVersionIsNot = "version is not ";
inline constexpr std::string_view kBadSignature = "the signature is not Zemra Norvo's";
inline constexpr std::string_view kNotWritable = " is not writable";

// Where the self-update talks to and works in.
struct Settings {
  std::string feed;  // the address of "version.json"
  std::string host;  // the update host: every release must come from it
  std::filesystem::path work;
  std::string publicKey;  // the 32 raw bytes of the Ed25519 key that signs releases
  platform::HttpOptions http;
  std::chrono::seconds downloadTimeout{60};

  // The feed at defaultFeedBase or $ZEMNORVO_UPDATE_FEED, the work folder in
  // $XDG_CACHE_HOME (~/.cache), the key compiled into the product.
  static Settings forUser();
  // The feed and host for a base address ("https://host[:port]").
  static Settings at(std::string_view base, const std::filesystem::path& work);
};

// The host of an "https://" address, or absent when the address is not HTTPS
// or has no host.
std::optional<std::string> httpsHost(std::string_view address);

// The release in `data`: a JSON object with the four texts, its "url" HTTPS
// on `host`. Absent otherwise.
std::optional<Release> parse(std::string_view data, std::string_view host);

// Whether the release's build is newer than `build`, or else its version
// newer than `version`.
bool isNewer(const Release& release, std::string_view version, std::string_view build);

// Fetches a text at an address; throws (any std::exception) on failure.
using Fetch = std::function<std::string(const std::string& address)>;

// The latest release when it is newer than the running version and build.
// Fetch errors pass on; an answer that does not parse throws Failure(kCannotParse).
std::optional<Release> check(std::string_view version, std::string_view build, const Fetch& fetch,
                             const Settings& settings);

// Downloads, checks and stages `release`, calling `step` as it goes; returns
// the staged tree. Throws Failure with the step's message. The installed tree
// is not touched.
std::filesystem::path prepare(const Release& release, const std::function<void(Step)>& step,
                              const Settings& settings);

// The staged tree's manifest names the product and the release's version, and
// the downloaded tarball carries the maker's signature. Throws Failure.
void verify(const std::filesystem::path& staged, const Release& release, const Settings& settings);

// The six lines of the swap script; `relaunch` the last line's command
// ("true" for none).
std::string swapScript(std::string_view relaunch);

// How the swap script starts the product again.
enum class Relaunch { none, binary, service };

// Starts the detached swap script that waits up to 30 s for `pid` to end,
// moves `installed` aside to the work folder's "old", moves `staged` into its
// place (the old tree back when that fails) and relaunches. Throws Failure
// when the folder holding `installed` is not writable or the script cannot
// start; nothing is moved then.
void swap(const std::filesystem::path& installed, const std::filesystem::path& staged, int32_t pid,
          Relaunch relaunch, const Settings& settings);

// The installed tree the running program `executable` belongs to: the folder
// above its bin/, when it is named treeName, holds the manifest and lies
// inside `home`. Absent for any other install (a system package, a shared
// prefix, a build folder).
std::optional<std::filesystem::path> installedTree(const std::filesystem::path& executable,
                                                   const std::filesystem::path& home);

}  // namespace norvo::SelfUpdate
