#include "core/store/norvo_store.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <initializer_list>

#include "core/platform/named_process.hpp"
#include "core/platform/record_file.hpp"

namespace norvo::NorvoStore {

namespace fs = std::filesystem;

namespace {

constexpr const char* kStatusFile = "status.json";
constexpr const char* kLogFile = "actions.jsonl";
// A status this recent means the app's sampling loop (which writes it every
// tick) is alive, without looking through the process list.
constexpr double kAliveStatusAge = 20.0;
constexpr const char* kFlagFile = "cleanup-user-folders";
constexpr std::string_view kCutMarker = "\u2026";
// Scan results are whole disk reports; anything larger is not ours.
constexpr size_t kMaxRecordBytes = 64u * 1024 * 1024;

// A descriptor that closes itself.
struct Fd {
  int fd = -1;
  explicit Fd(int f) : fd(f) {}
  ~Fd() {
    if (fd >= 0) ::close(fd);
  }
  Fd(Fd&& other) noexcept : fd(other.fd) { other.fd = -1; }
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;
  Fd& operator=(Fd&&) = delete;
  explicit operator bool() const { return fd >= 0; }
};

bool preadAll(int fd, char* out, size_t count, off_t offset) {
  while (count > 0) {
    ssize_t n = ::pread(fd, out, count, offset);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    out += n;
    count -= static_cast<size_t>(n);
    offset += n;
  }
  return true;
}

// Opens a regular file of the store for reading. A symbolic link, a folder or
// a FIFO planted under a record's name is refused rather than followed or
// waited on: a reader must neither leave the store nor block.
Fd openRegular(const fs::path& path, off_t* size = nullptr) {
  Fd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK));
  if (!fd) return fd;
  struct stat st {};
  if (::fstat(fd.fd, &st) != 0 || !S_ISREG(st.st_mode)) return Fd(-1);
  if (size) *size = st.st_size;
  return fd;
}

template <typename T>
std::optional<T> readRecord(const fs::path& path) {
  return record_file::read<T>(path, record_file::Links::refuse);
}

// Removes `name` from the folder `components` below `dir` without following a
// symbolic link anywhere below the store directory itself: a link planted in
// place of a folder or of the file is never a way out of the store.
void removeEntry(const fs::path& dir, std::initializer_list<const char*> components,
                 const std::string& name) {
  Fd current(::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (!current) return;
  for (const char* component : components) {
    Fd next(::openat(current.fd, component, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    if (!next) return;
    std::swap(current.fd, next.fd);
  }
  // unlinkat without AT_REMOVEDIR refuses folders and removes a link, not its target.
  ::unlinkat(current.fd, name.c_str(), 0);
}

struct Kind {
  const char* folder;
  fs::path pending(const fs::path& dir) const { return dir / folder / "pending"; }
  fs::path done(const fs::path& dir) const { return dir / folder / "done"; }
};

constexpr Kind kQuit{"suggestions"};
constexpr Kind kCleanup{"cleanups"};
constexpr Kind kUninstall{"uninstalls"};
constexpr Kind kScan{"scans"};

std::string fileName(std::string_view id) { return std::string(id) + ".json"; }

record_file::Written badId(std::string_view id) {
  return {"cannot file a record under the id \"" + std::string(id) + "\""};
}

template <typename T>
record_file::Written add(const Kind& kind, const T& record, const fs::path& dir) {
  if (!isStorableId(record.id)) return badId(record.id);
  return record_file::write(record, kind.pending(dir) / fileName(record.id));
}

template <typename T>
std::vector<T> listPending(const Kind& kind, const fs::path& dir) {
  std::vector<T> out;
  std::error_code ec;
  fs::directory_iterator it(kind.pending(dir), ec);
  if (ec) return out;
  for (fs::directory_iterator end; it != end; it.increment(ec)) {
    if (ec) break;
    const fs::path& path = it->path();
    if (path.extension() != ".json") continue;
    auto record = readRecord<T>(path);
    if (!record) continue;
    out.push_back(std::move(*record));
  }
  std::sort(out.begin(), out.end(), [](const T& a, const T& b) {
    return a.created != b.created ? a.created < b.created : a.id < b.id;
  });
  return out;
}

template <typename T>
record_file::Written resolveRecord(const Kind& kind, const T& record, const fs::path& dir) {
  if (!isStorableId(record.id)) return badId(record.id);
  // The pending copy goes only once the answer is safely on disk: a failed
  // write must not lose the suggestion.
  auto written = record_file::write(record, kind.done(dir) / fileName(record.id));
  if (written) removeEntry(dir, {kind.folder, "pending"}, fileName(record.id));
  return written;
}

template <typename T>
std::optional<T> lookup(const Kind& kind, std::string_view id, const fs::path& dir) {
  if (!isStorableId(id)) return std::nullopt;
  // Done, then pending, then done again: a resolve that runs between the first
  // two reads writes the done copy before removing the pending one, so the
  // third read finds what the first missed.
  for (const fs::path& folder : {kind.done(dir), kind.pending(dir), kind.done(dir)}) {
    auto record = readRecord<T>(folder / fileName(id));
    if (record && record->id == id) return record;
  }
  return std::nullopt;
}

// Bytes as UTF-8 text, each maximal invalid subsequence replaced by U+FFFD
// (the Unicode "substitution of maximal subparts" practice).
std::string repairUtf8(std::string_view bytes) {
  std::string out;
  out.reserve(bytes.size());
  size_t i = 0;
  const size_t n = bytes.size();
  auto at = [&](size_t k) { return static_cast<unsigned char>(bytes[k]); };
  while (i < n) {
    unsigned char c = at(i);
    if (c < 0x80) {
      out.push_back(static_cast<char>(c));
      ++i;
      continue;
    }
    size_t need = 0;
    unsigned char lo = 0x80, hi = 0xBF;
    if (c >= 0xC2 && c <= 0xDF) {
      need = 1;
    } else if (c >= 0xE0 && c <= 0xEF) {
      need = 2;
      if (c == 0xE0) lo = 0xA0;
      if (c == 0xED) hi = 0x9F;
    } else if (c >= 0xF0 && c <= 0xF4) {
      need = 3;
      if (c == 0xF0) lo = 0x90;
      if (c == 0xF4) hi = 0x8F;
    }
    if (need == 0) {
      out += "\xEF\xBF\xBD";
      ++i;
      continue;
    }
    size_t k = 1;
    for (; k <= need && i + k < n; ++k) {
      unsigned char cc = at(i + k);
      unsigned char low = k == 1 ? lo : 0x80, high = k == 1 ? hi : 0xBF;
      if (cc < low || cc > high) break;
    }
    if (k == need + 1) {
      out.append(bytes.substr(i, need + 1));
    } else {
      out += "\xEF\xBF\xBD";
    }
    i += k;
  }
  return out;
}

// The first `keep` bytes of `text`, moved back to a character boundary.
std::string_view prefixAtBoundary(std::string_view text, size_t keep) {
  while (keep > 0 && keep < text.size() && (static_cast<unsigned char>(text[keep]) & 0xC0) == 0x80)
    --keep;
  return text.substr(0, keep);
}

}  // namespace

Path pendingDir(const Path& dir) { return kQuit.pending(dir); }
Path doneDir(const Path& dir) { return kQuit.done(dir); }

bool isStorableId(std::string_view id) {
  if (id.empty() || id.size() > 128 || id.front() == '.') return false;
  return std::all_of(id.begin(), id.end(), [](char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' ||
           c == '_' || c == '.';
  });
}

record_file::Written saveStatus(const NorvoSnapshot& snapshot, const Path& dir) {
  return record_file::write(snapshot, dir / kStatusFile);
}

bool statusIsFresh(Date timestamp, double maxAge, Date now) {
  return std::chrono::duration<double>(now - timestamp).count() <= maxAge;
}

std::optional<NorvoSnapshot> cachedStatus(double maxAge, const Path& dir) {
  auto snapshot = readRecord<NorvoSnapshot>(dir / kStatusFile);
  if (!snapshot ||
      !statusIsFresh(snapshot->metrics.timestamp, maxAge, std::chrono::system_clock::now()))
    return std::nullopt;
  return snapshot;
}

bool appIsRunning(const platform::Roots& roots) {
  if (cachedStatus(kAliveStatusAge, roots.store)) return true;
  return platform::named_process::exists(roots, appProcessName, ::getuid());
}

bool nameThisProcessAsApp() { return platform::named_process::nameThisProcess(appProcessName); }

bool scanUserFolders(const Path& dir) {
  struct stat st {};
  return ::lstat((dir / kFlagFile).c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

record_file::Written setScanUserFolders(bool on, const Path& dir) {
  if (on) return record_file::write(Date(std::chrono::system_clock::now()), dir / kFlagFile);
  removeEntry(dir, {}, kFlagFile);
  return {};
}

std::string logLine(const Action& action) {
  try {
    auto encode = [](const Action& a) { return json_codec::encodeRecord(a) + "\n"; };
    std::string line = encode(action);
    if (line.size() <= maxLogLineBytes) return line;
    Action cut = action;
    for (std::string* field : {&cut.detail, &cut.name, &cut.actor, &cut.kind}) {
      const std::string original = *field;
      // The longest prefix that fits with the marker. Escapes and replaced
      // bytes make the encoded length differ from the raw one, so search.
      size_t lo = 0, hi = original.size();  // answer in [lo, hi); lo may not fit
      std::optional<std::string> best;
      while (lo < hi) {
        size_t mid = lo + (hi - lo) / 2;
        *field = std::string(prefixAtBoundary(original, mid)) + std::string(kCutMarker);
        std::string candidate = encode(cut);
        if (candidate.size() <= maxLogLineBytes) {
          best = std::move(candidate);
          lo = mid + 1;
        } else {
          hi = mid;
        }
      }
      if (best) return *best;
      field->clear();
      line = encode(cut);
      if (line.size() <= maxLogLineBytes) return line;
    }
    return line;
  } catch (const std::exception&) {
    return {};  // out of memory: nothing sensible to append
  }
}

void log(const Action& action, const Path& dir) {
  std::string line = logLine(action);
  if (line.empty() || line.size() > maxLogLineBytes) return;
  std::error_code ec;
  fs::create_directories(dir, ec);
  // O_APPEND makes the kernel seek to the end and write as one step, so lines
  // of concurrent writers follow each other whole. O_NONBLOCK keeps a FIFO
  // planted under the log's name from blocking the caller.
  Fd fd(::open((dir / kLogFile).c_str(),
               O_RDWR | O_APPEND | O_CREAT | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK, 0644));
  if (!fd) return;
  struct stat st {};
  if (::fstat(fd.fd, &st) != 0 || !S_ISREG(st.st_mode)) return;
  // A writer that died mid-line (or an outside edit) may have left the log
  // without its final line feed; start on a fresh line so ours stays whole.
  char last = '\n';
  if (st.st_size > 0 && !preadAll(fd.fd, &last, 1, st.st_size - 1)) last = '\n';
  if (last != '\n') line.insert(line.begin(), '\n');
  ssize_t n;
  do {
    n = ::write(fd.fd, line.data(), line.size());
  } while (n < 0 && errno == EINTR);
  // A short write (disk full) leaves a fragment. Writing the rest later could
  // land after another process's line, so end the fragment here instead; it
  // fails to decode and is skipped by readers.
  if (n > 0 && static_cast<size_t>(n) < line.size()) {
    ssize_t ignored = ::write(fd.fd, "\n", 1);
    (void)ignored;
  }
}

std::vector<Action> recentActions(int64_t limit, const Path& dir) {
  std::vector<Action> out;
  if (limit <= 0) return out;
  off_t size = 0;
  Fd fd = openRegular(dir / kLogFile, &size);
  if (!fd) return out;

  // The log is never trimmed, so read from its end backwards, doubling the
  // window until it holds `limit` whole lines or the whole file.
  std::string window;
  std::vector<std::string_view> pieces;
  off_t pos = size;
  size_t chunk = 64 * 1024;
  for (;;) {
    size_t n = static_cast<size_t>(std::min<off_t>(static_cast<off_t>(chunk), pos));
    pos -= static_cast<off_t>(n);
    std::string part(n, '\0');
    if (n > 0 && !preadAll(fd.fd, part.data(), n, pos)) return out;
    window.insert(0, part);
    pieces.clear();
    size_t start = 0;
    while (start <= window.size()) {
      size_t end = window.find('\n', start);
      if (end == std::string::npos) end = window.size();
      if (end > start) pieces.emplace_back(window.data() + start, end - start);
      start = end + 1;
    }
    // Until the file's start is reached the first piece may be a line's tail.
    bool firstIsPartial = pos > 0 && !pieces.empty() && window.front() != '\n';
    size_t whole = pieces.size() - (firstIsPartial ? 1 : 0);
    if (pos == 0 || whole >= static_cast<uint64_t>(limit)) {
      if (firstIsPartial) pieces.erase(pieces.begin());
      break;
    }
    chunk *= 2;
  }
  size_t take = std::min<size_t>(pieces.size(), static_cast<uint64_t>(limit));
  for (size_t i = pieces.size(); i > pieces.size() - take; --i) {
    if (auto action = json_codec::decodeAs<Action>(pieces[i - 1]))
      out.push_back(std::move(*action));
  }
  return out;
}

record_file::Written addSuggestion(const QuitSuggestion& s, const Path& dir) {
  return add(kQuit, s, dir);
}
std::vector<QuitSuggestion> pendingSuggestions(const Path& dir) {
  return listPending<QuitSuggestion>(kQuit, dir);
}
record_file::Written resolve(const QuitSuggestion& s, const Path& dir) {
  return resolveRecord(kQuit, s, dir);
}
std::optional<QuitSuggestion> suggestion(std::string_view id, const Path& dir) {
  return lookup<QuitSuggestion>(kQuit, id, dir);
}

record_file::Written addCleanup(const CleanupSuggestion& s, const Path& dir) {
  return add(kCleanup, s, dir);
}
std::vector<CleanupSuggestion> pendingCleanups(const Path& dir) {
  return listPending<CleanupSuggestion>(kCleanup, dir);
}
record_file::Written resolveCleanup(const CleanupSuggestion& s, const Path& dir) {
  return resolveRecord(kCleanup, s, dir);
}
std::optional<CleanupSuggestion> cleanup(std::string_view id, const Path& dir) {
  return lookup<CleanupSuggestion>(kCleanup, id, dir);
}

record_file::Written addUninstall(const UninstallSuggestion& s, const Path& dir) {
  return add(kUninstall, s, dir);
}
std::vector<UninstallSuggestion> pendingUninstalls(const Path& dir) {
  return listPending<UninstallSuggestion>(kUninstall, dir);
}
record_file::Written resolveUninstall(const UninstallSuggestion& s, const Path& dir) {
  return resolveRecord(kUninstall, s, dir);
}
std::optional<UninstallSuggestion> uninstall(std::string_view id, const Path& dir) {
  return lookup<UninstallSuggestion>(kUninstall, id, dir);
}

record_file::Written addScan(const ScanRequest& request, const Path& dir) {
  return add(kScan, request, dir);
}
std::vector<ScanRequest> pendingScans(const Path& dir) {
  return listPending<ScanRequest>(kScan, dir);
}

record_file::Written finishScan(std::string_view id, std::string_view json, const Path& dir) {
  if (!isStorableId(id)) return badId(id);
  auto written = record_file::writeAtomically(kScan.done(dir) / fileName(id), json);
  if (written) removeEntry(dir, {kScan.folder, "pending"}, fileName(id));
  return written;
}

std::optional<std::string> scanResult(std::string_view id, const Path& dir) {
  if (!isStorableId(id)) return std::nullopt;
  auto bytes = record_file::readWhole(kScan.done(dir) / fileName(id), kMaxRecordBytes,
                                      record_file::Links::refuse);
  if (!bytes) return std::nullopt;
  return repairUtf8(*bytes);
}

}  // namespace norvo::NorvoStore
