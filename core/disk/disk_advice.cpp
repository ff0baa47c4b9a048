#include "core/disk/disk_advice.hpp"

#include <algorithm>
#include <array>
#include <cctype>

#include "core/disk/disk_report.hpp"
#include "core/platform/platform_words.hpp"
#include "core/records/record_fields.hpp"

namespace norvo::DiskUsage {

namespace {

constexpr int64_t kMiB = 1024 * 1024;
constexpr int64_t kAdviceMin = 300 * kMiB;
constexpr int64_t kBigFileAdviceMin = 1024 * kMiB;

const char* const kUserFiles = "Your files";
const char* const kAccountData = "Settings and system data of your account";

// Which place of `Places` a rule's folder hangs from.
enum class Place { home, caches, trash, appData, appConfig, library, containers, downloads, cloud };

struct Folder {
  Place place;
  const char* suffix;  // appended to the place; "" for the place itself
};

enum class Match {
  remainder,       // the synthetic node for everything not counted
  trash,           // under a trash folder, or a volume's own trash
  developerCache,  // under one of the developer caches below home
  under,           // under one of `folders`
  nameIs,          // the last component is one of `names`
  nameEndsWith,    // the last component ends with names[0]
  extIs,           // the extension is one of `names`, or the name one of `alsoNames`
  protectedApp,    // an installed app of the protected set
  app,             // any other installed app
  appsFolder,      // a folder apps are installed in
  hiddenInHome,    // a hidden entry of the home folder
  installer,       // an installer file outside an app
  anything,
};

enum class Offer { cleanup, uninstallPath, revealPath, storagePane, accountPane, none };

struct Rule {
  Match match;
  std::vector<Folder> folders;
  std::vector<std::string> names;
  std::vector<std::string> alsoNames;
  Safety safety;
  Offer offer;
  const char* what;
  const char* whatRu;
  const char* how;
  const char* howRu;
};

struct DeveloperCache {
  const char* path;  // relative to home
  const char* what;
  const char* whatRu;
};

const std::array<DeveloperCache, 12> kDeveloperCaches{{
    {"Library/Developer/Xcode/DerivedData", "Xcode build data", "Данные сборки Xcode"},
    {"Library/Developer/CoreSimulator/Caches", "Simulator caches", "Кэши симуляторов"},
    {"Library/Developer/Xcode/iOS DeviceSupport", "iOS device symbols", "Символы устройств iOS"},
    {"Library/Developer/Xcode/watchOS DeviceSupport", "watchOS device symbols",
     "Символы устройств watchOS"},
    {".npm", "npm cache", "Кэш npm"},
    {".gradle/caches", "Gradle caches", "Кэши Gradle"},
    {".cache", "Tool caches", "Кэши инструментов"},
    {".cargo/registry", "Rust packages", "Пакеты Rust"},
    {"go/pkg/mod", "Go modules", "Модули Go"},
    {".m2/repository", "Maven packages", "Пакеты Maven"},
    {".pub-cache", "Dart packages", "Пакеты Dart"},
    {".cocoapods", "CocoaPods specs", "Спецификации CocoaPods"},
}};

// The app identifiers the uninstaller never removes.
const std::array<const char*, 2> kProtectedApps{"com.apple.Safari", "com.vadro.ZemraNorvo"};

// The rule table, tried in order. Rows whose places this system does not have
// (logs, device backups, Xcode, Music, Mail, Messages, iCloud) keep their
// place in the order with no folders and so never match.
const std::vector<Rule>& rules() {
  static const std::vector<Rule> table{
      {Match::remainder,
       {},
       {},
       {},
       Safety::keep,
       Offer::storagePane,
       platform::diskWords().remainderWhat,
       platform::diskWords().remainderWhatRu,
       platform::diskWords().remainderHow,
       platform::diskWords().remainderHowRu},
      {Match::trash,
       {{Place::trash, ""}},
       {".Trashes"},
       {},
       Safety::safe,
       Offer::revealPath,
       "Trash",
       "Корзина",
       platform::diskWords().trashHow,
       platform::diskWords().trashHowRu},
      {Match::developerCache,
       {},
       {},
       {},
       Safety::safe,
       Offer::cleanup,
       "",
       "",
       "Rebuilt or downloaded again when needed. Remove in Free up space.",
       "Пересоберётся или скачается заново. Удаляется в «Освободить место»."},
      {Match::under,
       {{Place::caches, ""}},
       {},
       {},
       Safety::safe,
       Offer::cleanup,
       "Cache",
       "Кэш",
       "Apps rebuild their caches. Free up space removes the developer ones; others: quit the app, "
       "then move the folder to the Trash.",
       "Программы пересоздают кэш сами. Кэши разработки удаляет «Освободить место»; остальные — "
       "закройте программу и перенесите папку в Корзину."},
      {Match::under,
       {},
       {},
       {},
       Safety::safe,
       Offer::revealPath,
       "Logs",
       "Журналы",
       "Old logs can go.",
       "Старые журналы можно удалить."},
      {Match::nameIs,
       {},
       {"node_modules", ".build", "DerivedData", "Pods"},
       {},
       Safety::safe,
       Offer::cleanup,
       "Build folder of a project",
       "Папка сборки проекта",
       "Restored by npm install / swift build / pod install. Free up space removes idle ones.",
       "Восстановится через npm install / swift build / pod install. Неиспользуемые удаляет "
       "«Освободить место»."},
      {Match::under,
       {},
       {},
       {},
       Safety::review,
       Offer::revealPath,
       "iPhone and iPad backups",
       "Резервные копии iPhone и iPad",
       "Delete old backups in Finder → your device → Manage Backups, never in this folder.",
       "Старые копии удаляйте в Finder → устройство → «Управлять резервными копиями», не в этой "
       "папке."},
      {Match::under,
       {},
       {},
       {},
       Safety::review,
       Offer::revealPath,
       "Xcode archives",
       "Архивы Xcode",
       "Needed to read crash reports of builds you shipped. Delete old ones in Xcode → Window → "
       "Organizer.",
       "Нужны, чтобы читать отчёты о сбоях выпущенных сборок. Старые удаляйте в Xcode → Window → "
       "Organizer."},
      {Match::under,
       {},
       {},
       {},
       Safety::review,
       Offer::revealPath,
       "Simulator devices",
       "Устройства симуляторов",
       "Each holds its apps and data. Delete unused ones in Xcode → Window → Devices and "
       "Simulators; Free up space removes those of removed iOS versions.",
       "В каждом — его программы и данные. Ненужные удаляйте в Xcode → Window → Devices and "
       "Simulators; устройства удалённых версий iOS удаляет «Освободить место»."},
      {Match::nameEndsWith,
       {},
       {".photoslibrary"},
       {},
       Safety::keep,
       Offer::revealPath,
       "Photos library",
       "Медиатека «Фото»",
       "Never delete files inside. Delete photos in Photos, or turn on Photos → Settings → iCloud "
       "→ Optimize Mac Storage.",
       "Ничего не удаляйте внутри. Удаляйте снимки в «Фото» или включите «Фото» → Настройки → "
       "iCloud → «Оптимизировать хранилище Mac»."},
      {Match::under,
       {},
       {},
       {},
       Safety::keep,
       Offer::revealPath,
       "Music library",
       "Медиатека «Музыки»",
       "Manage it in the Music app.",
       "Управляйте ею в «Музыке»."},
      {Match::under,
       {},
       {},
       {},
       Safety::keep,
       Offer::storagePane,
       "Mail",
       "Почта",
       "Delete old messages with large attachments in Mail; do not delete these files.",
       "Удаляйте старые письма с крупными вложениями в «Почте»; файлы здесь не трогайте."},
      {Match::under,
       {},
       {},
       {},
       Safety::keep,
       Offer::storagePane,
       "Messages attachments",
       "Вложения «Сообщений»",
       "Review them in System Settings → General → Storage → Messages.",
       "Просмотрите их в Системных настройках → Основные → Хранилище → Сообщения."},
      {Match::under,
       {},
       {},
       {},
       Safety::keep,
       Offer::accountPane,
       "iCloud Drive",
       "iCloud Drive",
       "Deleting here deletes it from iCloud on all devices. To free space keep it in iCloud: "
       "Remove Download in Finder, or Optimize Mac Storage in iCloud settings.",
       "Удаление здесь удаляет файл из iCloud на всех устройствах. Чтобы освободить место, "
       "оставьте его в iCloud: «Удалить загруженную копию» в Finder или «Оптимизировать хранилище "
       "Mac» в настройках iCloud."},
      {Match::under,
       {{Place::cloud, ""}},
       {},
       {},
       Safety::keep,
       Offer::revealPath,
       "Cloud drive (Google Drive, OneDrive, Dropbox…)",
       "Облачный диск (Google Диск, OneDrive, Dropbox…)",
       "Deleting here deletes it in the cloud. Free space with the provider's online-only / stream "
       "setting.",
       "Удаление здесь удаляет файл в облаке. Место освобождайте настройкой «только онлайн» / "
       "потоковой передачей у самого сервиса."},
      {Match::under,
       {{Place::containers, ""}},
       {},
       {},
       Safety::keep,
       Offer::revealPath,
       "App data (sandboxed apps)",
       "Данные программ (песочница)",
       "Each app keeps its documents, chats and settings here. Clear them inside the app, or "
       "remove the whole app with Uninstall.",
       "Здесь документы, переписки и настройки программ. Очищайте их в самой программе или "
       "удалите программу целиком через «Удалить программу»."},
      {Match::under,
       {{Place::appData, ""}, {Place::appConfig, ""}},
       {},
       {},
       Safety::keep,
       Offer::revealPath,
       "App data",
       "Данные программ",
       "Settings and data of apps; removed together with the app by Uninstall.",
       "Настройки и данные программ; удаляются вместе с программой через «Удалить программу»."},
      {Match::under,
       {{Place::library, ""}, {Place::home, "/.var"}},
       {},
       {},
       Safety::keep,
       Offer::revealPath,
       kAccountData,
       "Настройки и системные данные вашей учётной записи",
       "Do not delete by hand.",
       "Вручную не удаляйте."},
      {Match::extIs,
       {},
       {"vmwarevm", "utm", "pvm", "vbox", "qcow2", "vdi", "vmdk"},
       {"Docker.raw"},
       Safety::review,
       Offer::revealPath,
       "Virtual machine disk",
       "Диск виртуальной машины",
       "Delete the virtual machine in its app (VMware, UTM, Parallels, Docker), not the file.",
       "Удаляйте виртуальную машину в её программе (VMware, UTM, Parallels, Docker), а не файл."},
      {Match::protectedApp,
       {},
       {},
       {},
       Safety::keep,
       Offer::none,
       platform::diskWords().systemPart,
       platform::diskWords().systemPartRu,
       "Cannot be removed.",
       "Удалить нельзя."},
      {Match::app,
       {},
       {},
       {},
       Safety::review,
       Offer::uninstallPath,
       "App",
       "Программа",
       "Not needed any more? Remove it with its files: Uninstall.",
       "Больше не нужна? Удалите вместе с её файлами: «Удалить программу»."},
      {Match::appsFolder,
       {},
       {},
       {},
       Safety::review,
       Offer::revealPath,
       "Apps",
       "Программы",
       "Remove the ones you do not use with Uninstall.",
       "Ненужные удаляйте через «Удалить программу»."},
      {Match::nameIs,
       {},
       {".Spotlight-V100", ".fseventsd", ".DocumentRevisions-V100"},
       {},
       Safety::keep,
       Offer::none,
       "Disk index kept by macOS",
       "Служебный индекс macOS на диске",
       "Managed by macOS.",
       "Этим управляет macOS."},
      {Match::extIs,
       {},
       {"backup", "sparsebundle"},
       {"Backups.backupdb"},
       Safety::keep,
       Offer::revealPath,
       "Time Machine backups",
       "Резервные копии Time Machine",
       "Delete old backups only in Time Machine (or let it thin them out), never in Finder.",
       "Старые копии удаляйте только в Time Machine (или пусть она прореживает сама), не в "
       "Finder."},
      {Match::hiddenInHome,
       {},
       {},
       {},
       Safety::review,
       Offer::revealPath,
       "Data of a command-line tool (hidden folder)",
       "Данные программы командной строки (скрытая папка)",
       "Settings, history and downloads of a tool such as an AI agent or a package manager. Clear "
       "it with the tool's own commands.",
       "Настройки, история и загрузки инструмента — AI-агента, менеджера пакетов. Очищайте его "
       "собственными командами."},
      {Match::extIs,
       {},
       {"dtbase2", "dtsparse", "lrcat", "fcpbundle", "logicx", "aplibrary"},
       {},
       Safety::keep,
       Offer::revealPath,
       "Database or library of an app (DEVONthink, Lightroom, Final Cut…)",
       "База или библиотека программы (DEVONthink, Lightroom, Final Cut…)",
       "Never delete files inside; delete items in the app, or move the whole library with the "
       "app's help.",
       "Ничего не удаляйте внутри; удаляйте записи в самой программе или переносите библиотеку "
       "целиком по её инструкции."},
      {Match::installer,
       {},
       {"dmg", "pkg", "mpkg", "xip", "iso"},
       {},
       Safety::safe,
       Offer::revealPath,
       "Installer",
       "Установщик",
       "Once the app is installed the installer can go; download it again if needed.",
       "После установки установщик можно удалить; при необходимости скачайте заново."},
      {Match::under,
       {{Place::downloads, ""}},
       {},
       {},
       Safety::review,
       Offer::revealPath,
       "Downloads",
       "Загрузки",
       "Your downloads: sort them and delete what you no longer need.",
       "Ваши загрузки: разберите и удалите ненужное."},
      {Match::anything,
       {},
       {},
       {},
       Safety::review,
       Offer::revealPath,
       kUserFiles,
       "Ваши файлы",
       "Yours to decide: keep, move to another drive or delete.",
       "Решать вам: оставить, перенести на другой диск или удалить."},
  };
  return table;
}

std::vector<std::string> placePaths(const Places& p, const Folder& f) {
  auto with = [&](const std::string& base) {
    return base.empty() ? std::string() : base + f.suffix;
  };
  switch (f.place) {
    case Place::home: return {with(p.home)};
    case Place::caches: return {with(p.caches)};
    case Place::trash: return {with(p.trash)};
    case Place::appData: return {with(p.appData)};
    case Place::appConfig: return {with(p.appConfig)};
    case Place::library: return {with(p.library)};
    case Place::containers: return {with(p.containers)};
    case Place::downloads: return {with(p.downloads)};
    case Place::cloud: {
      std::vector<std::string> out;
      for (const auto& c : p.cloud) out.push_back(with(c));
      return out;
    }
  }
  return {};
}

bool underAny(const std::string& path, const Places& places, const std::vector<Folder>& folders) {
  for (const auto& f : folders)
    for (const auto& folder : placePaths(places, f))
      if (!folder.empty() && isUnder(path, folder)) return true;
  return false;
}

std::string extensionOf(const std::string& name) {
  auto dot = name.rfind('.');
  if (dot == std::string::npos || dot == 0) return "";
  std::string ext = name.substr(dot + 1);
  for (auto& c : ext) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return ext;
}

bool contains(const std::vector<std::string>& list, const std::string& value) {
  return std::find(list.begin(), list.end(), value) != list.end();
}

// The installed app `path` is, if any: a folder directly inside one of the
// app folders. Its identifier is the folder's name, which is what flatpak
// names its apps by; other installs have none to compare.
bool isInstalledApp(const std::string& path, const Places& places) {
  auto parent = parentFolder(path);
  return path != parent && contains(places.appFolders, parent);
}

bool matches(const Rule& rule, const std::string& path, const std::string& name,
             const std::string& ext, const Places& places) {
  switch (rule.match) {
    case Match::remainder: return path == "/System";
    case Match::trash:
      return underAny(path, places, rule.folders) || contains(rule.names, name) ||
             name.rfind(".Trash-", 0) == 0;
    case Match::developerCache: return false;  // handled with its own table
    case Match::under: return underAny(path, places, rule.folders);
    case Match::nameIs: return contains(rule.names, name);
    case Match::nameEndsWith:
      return name.size() >= rule.names[0].size() &&
             name.compare(name.size() - rule.names[0].size(), std::string::npos, rule.names[0]) ==
                 0;
    case Match::extIs: return contains(rule.names, ext) || contains(rule.alsoNames, name);
    case Match::protectedApp:
      return isInstalledApp(path, places) &&
             std::find(kProtectedApps.begin(), kProtectedApps.end(), name) != kProtectedApps.end();
    case Match::app: return isInstalledApp(path, places);
    case Match::appsFolder: return contains(places.appFolders, path);
    case Match::hiddenInHome: return path.rfind(places.home + "/.", 0) == 0;
    case Match::installer:
      return contains(rule.names, ext) && path.find(".app/") == std::string::npos;
    case Match::anything: return true;
  }
  return false;
}

Kind kindOf(const Rule& rule, const std::string& path) {
  Kind k;
  k.safety = rule.safety;
  k.what = rule.what;
  k.whatRu = rule.whatRu;
  k.how = rule.how;
  k.howRu = rule.howRu;
  switch (rule.offer) {
    case Offer::cleanup: k.action = {Action::Case::cleanup, ""}; break;
    case Offer::uninstallPath: k.action = {Action::Case::uninstall, path}; break;
    case Offer::revealPath: k.action = {Action::Case::reveal, path}; break;
    case Offer::storagePane:
      k.action = {Action::Case::settings, platform::diskWords().storageSettings};
      break;
    case Offer::accountPane:
      k.action = {Action::Case::settings, platform::diskWords().accountSettings};
      break;
    case Offer::none: k.action = {Action::Case::none, ""}; break;
  }
  return k;
}

constexpr auto kindFields = record_fields::list(
    record_fields::field("safety", &Kind::safety), record_fields::field("what", &Kind::what),
    record_fields::field("whatRu", &Kind::whatRu), record_fields::field("how", &Kind::how),
    record_fields::field("howRu", &Kind::howRu), record_fields::field("action", &Kind::action));

constexpr auto adviceFields = record_fields::list(
    record_fields::field("path", &Advice::path), record_fields::field("name", &Advice::name),
    record_fields::field("bytes", &Advice::bytes), record_fields::field("kind", &Advice::kind));

const std::array<const char*, 5> kActionNames{"cleanup", "uninstall", "reveal", "settings", "none"};

}  // namespace

const char* rawValue(Safety safety) {
  switch (safety) {
    case Safety::safe: return "safe";
    case Safety::review: return "review";
    case Safety::keep: return "keep";
  }
  return "review";
}

const char* legend(Safety safety) {
  switch (safety) {
    case Safety::safe:
      return "regenerates or is junk: can simply be removed (Free up space, Trash, build folders)";
    case Safety::review: return "the owner's files, apps and backups: only the owner decides";
    case Safety::keep:
      return "system, app data, libraries, cloud and backups: never delete by hand; use the way "
             "given in how";
  }
  return "";
}

void to_json(nlohmann::json& j, Safety s) { j = rawValue(s); }

void from_json(const nlohmann::json& j, Safety& s) {
  auto text = j.get<std::string>();
  for (auto c : {Safety::safe, Safety::review, Safety::keep})
    if (text == rawValue(c)) {
      s = c;
      return;
    }
  throw nlohmann::json::type_error::create(302, "unknown safety " + text, &j);
}

void to_json(nlohmann::json& j, const Action& a) {
  nlohmann::json inner = nlohmann::json::object();
  if (a.kind != Action::Case::cleanup && a.kind != Action::Case::none) inner["_0"] = a.payload;
  j = {{kActionNames[static_cast<size_t>(a.kind)], inner}};
}

void from_json(const nlohmann::json& j, Action& a) {
  if (!j.is_object() || j.size() != 1)
    throw nlohmann::json::type_error::create(302, "Invalid number of keys found, expected one.",
                                             &j);
  // The key and value are read through an iterator of `j` itself: a binding
  // to *j.items().begin() would outlive the items() proxy it points into.
  auto only = j.begin();
  const std::string& key = only.key();
  const nlohmann::json& inner = only.value();
  for (size_t i = 0; i < kActionNames.size(); ++i) {
    if (key != kActionNames[i]) continue;
    a.kind = static_cast<Action::Case>(i);
    a.payload.clear();
    if (a.kind != Action::Case::cleanup && a.kind != Action::Case::none)
      a.payload = inner.at("_0").get<std::string>();
    else if (!inner.is_object())
      throw nlohmann::json::type_error::create(302, "an action's value is not an object", &j);
    return;
  }
  throw nlohmann::json::type_error::create(302, "unknown action " + key, &j);
}

void to_json(nlohmann::json& j, const Kind& k) { kindFields.write(j, k); }
void from_json(const nlohmann::json& j, Kind& k) { kindFields.read(j, k); }
void to_json(nlohmann::json& j, const Advice& a) { adviceFields.write(j, a); }
void from_json(const nlohmann::json& j, Advice& a) { adviceFields.read(j, a); }

Places Places::standard(const std::string& home) {
  Places p;
  p.home = home;
  p.caches = home + "/.cache";
  p.appData = home + "/.local/share";
  p.appConfig = home + "/.config";
  p.trash = p.appData + "/Trash";
  p.library = home + "/.local";
  p.containers = home + "/.var/app";
  p.desktop = home + "/Desktop";
  p.documents = home + "/Documents";
  p.downloads = home + "/Downloads";
  for (const char* c : {"Dropbox", "OneDrive", "Google Drive", "Nextcloud", "pCloudDrive"})
    p.cloud.push_back(home + "/" + c);
  // The per-user flatpak apps lie inside the app data and are classified with
  // it, so only the system-wide app folders are listed.
  p.appFolders = {"/opt", "/var/lib/flatpak/app", "/snap"};
  return p;
}

Kind kind(const std::string& path, const Places& places) {
  std::string name = lastComponent(path);
  std::string ext = extensionOf(name);
  for (const auto& rule : rules()) {
    if (rule.match == Match::developerCache) {
      for (const auto& cache : kDeveloperCaches) {
        // Where the tools' ~/.cache is also every app's cache folder, as on
        // Linux, the cache rule below speaks for it: Free up space removes
        // only the developer caches inside, not a browser's.
        if (places.home + "/" + cache.path == places.caches) continue;
        if (!isUnder(path, places.home + "/" + cache.path)) continue;
        Kind k = kindOf(rule, path);
        k.what = cache.what;
        k.whatRu = cache.whatRu;
        return k;
      }
      continue;
    }
    if (matches(rule, path, name, ext, places)) return kindOf(rule, path);
  }
  return kindOf(rules().back(), path);
}

namespace {

struct Adviser {
  const Places& places;
  std::vector<std::string> containers;
  std::vector<Advice> out;
  int apps = 0;

  bool isContainer(const std::string& path) const { return contains(containers, path); }

  // Returns the bytes of the items added for `node` and its subtree.
  int64_t walk(const Node& node) {
    if (node.lock || node.bytes < kAdviceMin) return 0;
    Kind k = kind(node.path, places);
    auto parent = parentFolder(node.path);
    bool appFolderChild = contains(places.appFolders, parent) && !isInstalledApp(node.path, places);
    if (isContainer(node.path) || appFolderChild || k.what == kAccountData) return children(node);
    if (k.what == kUserFiles) {
      int64_t explained = children(node);
      if (!isContainer(parent)) return explained;
      int64_t rest = node.bytes - explained;
      if (rest < kAdviceMin) return explained;
      out.push_back({node.path, node.name, rest, k});
      return explained + rest;
    }
    if (k.action.kind == Action::Case::uninstall && ++apps >= 9) return 0;
    out.push_back({node.path, node.name, node.bytes, k});
    return node.bytes;
  }

  int64_t children(const Node& node) {
    int64_t sum = 0;
    for (const auto& c : node.children) sum += walk(c);
    return sum;
  }
};

}  // namespace

std::vector<Advice> advise(const Report& report, const Places& places, int limit) {
  Adviser a{places,
            {places.home, report.volume.path, report.root.path, places.appData, places.appConfig,
             places.library},
            {},
            0};
  for (const auto& f : places.appFolders) a.containers.push_back(f);
  a.walk(report.root);
  for (const auto& file : report.bigFiles) {
    if (file.bytes < kBigFileAdviceMin) continue;
    bool inside = false;
    for (size_t i = 0; i < a.out.size() && !inside; ++i)
      inside = file.path.rfind(a.out[i].path + "/", 0) == 0;
    if (inside) continue;
    Kind k = kind(file.path, places);
    if (k.safety == Safety::keep) continue;
    a.out.push_back({file.path, lastComponent(file.path), file.bytes, k});
  }
  std::stable_sort(a.out.begin(), a.out.end(), [](const Advice& x, const Advice& y) {
    if (x.kind.safety != y.kind.safety) return x.kind.safety < y.kind.safety;
    return x.bytes > y.bytes;
  });
  if (limit >= 0 && a.out.size() > static_cast<size_t>(limit)) a.out.resize(limit);
  return a.out;
}

}  // namespace norvo::DiskUsage
