#include "core/updates/self_update.hpp"

#include <unistd.h>

#include <cctype>
#include <cstdlib>
#include <fstream>
#include <iterator>

#include "core/platform/detached_process.hpp"
#include "core/platform/release_files.hpp"
#include "core/platform/roots.hpp"
#include "core/records/record_fields.hpp"
#include "core/updates/app_updates.hpp"

#ifndef NORVO_RELEASE_KEY
#error "NORVO_RELEASE_KEY (the hex Ed25519 public key that signs releases) must be defined"
#endif

namespace norvo::SelfUpdate {

namespace fs = std::filesystem;

namespace {

constexpr auto releaseFields = record_fields::list(
    record_fields::field("version", &Release::version),
    record_fields::field("build", &Release::build), record_fields::field("url", &Release::url),
    record_fields::field("sha256", &Release::sha256));

constexpr std::string_view kTarball = "update.tar.gz";
constexpr std::string_view kSignature = "update.tar.gz.sig";

std::string fromHex(std::string_view hex) {
  std::string out;
  for (size_t i = 0; i + 1 < hex.size(); i += 2)
    out.push_back(static_cast<char>(std::stoi(std::string(hex.substr(i, 2)), nullptr, 16)));
  return out;
}

std::optional<std::string> readFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return std::nullopt;
  std::string data((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  if (in.bad()) return std::nullopt;
  return data;
}

}  // namespace

void to_json(nlohmann::json& j, const Release& r) { releaseFields.write(j, r); }
void from_json(const nlohmann::json& j, Release& r) { releaseFields.read(j, r); }

std::string_view rawValue(Step step) {
  switch (step) {
    case Step::downloading: return "downloading";
    case Step::verifying: return "verifying";
    case Step::ready: return "ready";
  }
  return "downloading";
}

Settings Settings::at(std::string_view base, const fs::path& work) {
  Settings s;
  s.feed = std::string(base) + std::string(feedPath);
  s.host = httpsHost(base).value_or("");
  s.work = work;
  s.publicKey = fromHex(NORVO_RELEASE_KEY);
  return s;
}

Settings Settings::forUser() {
  std::string base(defaultFeedBase);
  if (const char* v = std::getenv(std::string(feedVariable).c_str()); v && *v) base = v;
  while (!base.empty() && base.back() == '/') base.pop_back();
  fs::path cache;
  if (const char* v = std::getenv("XDG_CACHE_HOME"); v && v[0] == '/')
    cache = v;
  else if (auto home = platform::Roots::system().home; home.is_absolute())
    cache = home / ".cache";
  // Without a home there is no work folder; prepare refuses rather than
  // working relative to wherever it was started.
  return at(base, cache.empty() ? fs::path() : cache / "ZemraNorvo" / "update");
}

std::optional<std::string> httpsHost(std::string_view address) {
  constexpr std::string_view scheme = "https://";
  if (address.size() < scheme.size()) return std::nullopt;
  for (size_t i = 0; i < scheme.size(); ++i)
    if (std::tolower(static_cast<unsigned char>(address[i])) != scheme[i]) return std::nullopt;
  auto rest = address.substr(scheme.size());
  auto authority = rest.substr(0, rest.find_first_of("/?#"));
  // A user part ("user@host") would make the text before '@' look like the host.
  if (authority.find('@') != std::string_view::npos) return std::nullopt;
  std::string_view host = authority;
  if (!host.empty() && host.front() == '[') {
    auto close = host.find(']');
    if (close == std::string_view::npos) return std::nullopt;
    host = host.substr(0, close + 1);
  } else {
    host = host.substr(0, host.find(':'));
  }
  if (host.empty()) return std::nullopt;
  std::string out;
  for (char c : host) out.push_back(static_cast<char>(std::tolower(static_cast<unsigned char>(c))));
  return out;
}

std::optional<Release> parse(std::string_view data, std::string_view host) {
  auto release = json_codec::decodeAs<Release>(data);
  if (!release) return std::nullopt;
  auto urlHost = httpsHost(release->url);
  if (!urlHost || host.empty() || *urlHost != host) return std::nullopt;
  return release;
}

bool isNewer(const Release& release, std::string_view version, std::string_view build) {
  return AppUpdates::isNewer(release.build, build) || AppUpdates::isNewer(release.version, version);
}

std::optional<Release> check(std::string_view version, std::string_view build, const Fetch& fetch,
                             const Settings& settings) {
  auto body = fetch(settings.feed);
  auto release = parse(body, settings.host);
  if (!release) throw Failure(std::string(kCannotParse));
  if (!isNewer(*release, version, build)) return std::nullopt;
  return release;
}

fs::path prepare(const Release& release, const std::function<void(Step)>& step,
                 const Settings& settings) {
  auto report = [&](Step s) {
    if (step) step(s);
  };
  if (!settings.work.is_absolute()) throw Failure("no cache folder to work in");
  std::error_code ec;
  fs::remove_all(settings.work, ec);  // a leftover of an earlier attempt; ignored
  fs::create_directories(settings.work, ec);
  if (ec) throw Failure("cannot create " + settings.work.string() + ": " + ec.message());

  report(Step::downloading);
  if (!httpsHost(release.url) || *httpsHost(release.url) != settings.host)
    throw Failure("the release address is not on the update server: " + release.url);
  auto tarball = settings.work / kTarball;
  auto options = settings.http;
  options.timeout = settings.downloadTimeout;
  try {
    platform::httpDownload(release.url, tarball, options);
    platform::httpDownload(release.url + ".sig", settings.work / kSignature, options);
  } catch (const platform::HttpError& e) {
    throw Failure(e.what());
  }

  report(Step::verifying);
  if (auto why = platform::signatureCheckUnavailable()) throw Failure(*why);
  if (platform::sha256Hex(tarball) != release.sha256) throw Failure(std::string(kDigestDiffers));

  auto staged = settings.work / "new";
  if (!fs::create_directory(staged, ec) || ec)
    throw Failure("cannot create " + staged.string() + ": " + ec.message());
  if (auto why = platform::unpackTarball(tarball, staged))
    throw Failure("the tarball did not open: " + *why);
  if (!fs::is_regular_file(staged / "bin" / "zemnorvo", ec))
    throw Failure("no Zemra Norvo in the tarball");
  verify(staged, release, settings);

  fs::remove(tarball, ec);
  fs::remove(settings.work / kSignature, ec);
  report(Step::ready);
  return staged;
}

void verify(const fs::path& staged, const Release& release, const Settings& settings) {
  auto manifest = readFile(staged / manifestPath);
  auto parsed = manifest ? json_codec::decode(*manifest) : std::nullopt;
  auto field = [&](const char* key) -> std::optional<std::string> {
    if (!parsed || !parsed->is_object()) return std::nullopt;
    auto it = parsed->find(key);
    if (it == parsed->end() || !it->is_string()) return std::nullopt;
    return it->get<std::string>();
  };
  if (field("identifier") != bundleID) throw Failure(std::string(kNotOurs));
  if (field("version") != release.version)
    throw Failure(std::string(kVersionIsNot) + release.version);
  auto signature = readFile(settings.work / kSignature);
  if (!signature ||
      !platform::ed25519Verifies(settings.work / kTarball, *signature, settings.publicKey))
    throw Failure(std::string(kBadSignature));
}

std::string swapScript(std::string_view relaunch) {
  return "i=0; while kill -0 \"$3\" 2>/dev/null && [ $i -lt 300 ]; do sleep 0.1; i=$((i+1)); "
         "done\n"
         "rm -rf \"$4\"\n"
         "if mv \"$1\" \"$4\"; then\n"
         "  if mv \"$2\" \"$1\"; then rm -rf \"$4\"; else mv \"$4\" \"$1\"; fi\n"
         "fi\n" +
         std::string(relaunch);
}

void swap(const fs::path& installed, const fs::path& staged, int32_t pid, Relaunch relaunch,
          const Settings& settings) {
  if (!settings.work.is_absolute()) throw Failure("no cache folder to work in");
  auto folder = installed.parent_path();
  if (::access(folder.c_str(), W_OK) != 0)
    throw Failure(folder.string() + std::string(kNotWritable));
  std::string last = "true";
  if (relaunch == Relaunch::service)
    last = "systemctl --user restart " + std::string(serviceUnit);
  else if (relaunch == Relaunch::binary)
    last = "exec \"$1/bin/zemnorvo\" watch";
  std::string error;
  if (!platform::spawnDetached(
          {"/bin/sh", "-c", swapScript(last), "swap", installed.string(), staged.string(),
           std::to_string(pid), (settings.work / "old").string()},
          error))
    throw Failure(error);
}

std::optional<fs::path> installedTree(const fs::path& executable, const fs::path& home) {
  auto tree = executable.parent_path().parent_path();
  if (executable.parent_path().filename() != "bin" || tree.filename() != treeName)
    return std::nullopt;
  std::error_code ec;
  if (!fs::is_regular_file(tree / manifestPath, ec)) return std::nullopt;
  auto rel = tree.lexically_normal().lexically_relative(home.lexically_normal());
  if (home.empty() || rel.empty() || *rel.begin() == ".." || rel == ".") return std::nullopt;
  return tree;
}

}  // namespace norvo::SelfUpdate
