#include "core/disk/disk_scan.hpp"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "core/platform/directory_reader.hpp"
#include "core/records/json_codec.hpp"
#include "test_support.hpp"

namespace norvo::DiskUsage {
namespace {

namespace fs = std::filesystem;
constexpr int64_t kMiB = 1024 * 1024;

// A file of `bytes` really allocated (not sparse), so that its blocks count.
void allocate(const fs::path& p, int64_t bytes) {
  fs::create_directories(p.parent_path());
  int fd = ::open(p.c_str(), O_CREAT | O_WRONLY | O_CLOEXEC, 0644);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(::posix_fallocate(fd, 0, bytes), 0);
  ::close(fd);
}

int64_t blocksOf(const fs::path& p) {
  struct stat st {};
  ::lstat(p.c_str(), &st);
  return static_cast<int64_t>(st.st_blocks) * 512;
}

Report scanFolder(const fs::path& folder, const Places& places, const Access& access = {},
                  double deadline = 60) {
  Progress progress;
  ScanSetup setup{places, {}, std::nullopt};
  return scan(folder.string(), std::nullopt, access, deadline, progress, setup);
}

const Node* child(const Node& n, const std::string& name) {
  for (const auto& c : n.children)
    if (c.name == name) return &c;
  return nullptr;
}

// One tree with the hard cases of counting: a second name of a file, links
// to a file and to the tree itself, a sparse file, names that are not plain
// text, files either side of the big-file threshold.
TEST(DiskScan, CountsAllocatedBlocksOncePerInodeWithoutFollowingLinks) {
  test::TempDir dir;
  auto root = dir.path() / "t";
  const std::string odd = "line\nbreak", bad = "bad\xff\xfe";
  allocate(root / "a/data", 3 * kMiB);
  fs::create_directories(root / "b");
  fs::create_hard_link(root / "a/data", root / "b/same");
  allocate(root / odd / "big", 2 * kMiB);
  allocate(root / bad / "f", 2 * kMiB);
  fs::create_directories(root / "l");
  fs::create_symlink(root / odd / "big", root / "l/to-big");
  fs::create_directory_symlink(root, root / "l/loop");
  { std::ofstream sparse(root / "l/sparse"); }
  fs::resize_file(root / "l/sparse", 512 * kMiB);
  allocate(root / "under", 199 * kMiB);
  allocate(root / "at", 200 * kMiB);

  Places places = Places::standard(dir.path().string());
  auto r = scanFolder(root, places);
  ASSERT_TRUE(r.complete);
  // Files: data, same (a second name, not counted), big, f, to-big, loop,
  // sparse, under, at.
  EXPECT_EQ(r.root.files, 8);
  int64_t bytes = 0;
  for (const std::string f :
       {"", "a", "b", "l", "a/data", "l/to-big", "l/loop", "l/sparse", "under", "at"})
    bytes += blocksOf(root / f);
  for (const auto& f : {root / odd, root / odd / "big", root / bad, root / bad / "f"})
    bytes += blocksOf(f);
  EXPECT_EQ(r.root.bytes, bytes);
  // Big files are counted by their blocks, so the sparse file is not one.
  ASSERT_EQ(r.bigFiles.size(), 1u);
  EXPECT_EQ(r.bigFiles[0].path, (root / "at").string());
  // Whichever name the walk meets first carries the file; the other folder,
  // under 1 MiB, folds into its parent.
  EXPECT_NE(child(r.root, "a") == nullptr, child(r.root, "b") == nullptr);
  const Node* l = child(r.root, "l");
  EXPECT_TRUE(l == nullptr || l->bytes < kMiB) << "links and a sparse file take almost nothing";
  ASSERT_NE(child(r.root, odd), nullptr);
  EXPECT_EQ(child(r.root, odd)->path, (root / odd).string());
  EXPECT_NE(child(r.root, bad), nullptr);
  EXPECT_TRUE(json_codec::decodeAs<Report>(json_codec::encodeRecord(r)).has_value());

  auto missing = scanFolder(dir.path() / "missing", places);
  EXPECT_EQ(missing.root.lock, Lock::noAccess);
}

// A volume scan: protected folders are entered only under the grant (which
// grant opens which folder is the lock rule's table below), and what the
// walk did not count is the system's remainder.
TEST(DiskScan, VolumeScanFollowsTheGrantAndLeavesTheRestToTheSystem) {
  test::TempDir dir;
  auto home = dir.path().string();
  Places places = Places::standard(home);
  places.appFolders.clear();
  allocate(dir.path() / "Documents/d", 2 * kMiB);
  allocate(dir.path() / "Dropbox/x", 2 * kMiB);
  for (const Access& access : {Access{}, Access{false, true, {home + "/Dropbox"}}}) {
    SCOPED_TRACE(access.key());
    bool granted = access.userFolders;
    Volume startup{"/", "root", 100 * kMiB, 50 * kMiB, 0, true, true, "ext4"};
    Progress progress;
    auto r = scan(std::nullopt, startup, access, 60, progress, {places, {startup}, std::nullopt});
    const Node* homeNode = find(home, r.root);
    ASSERT_NE(homeNode, nullptr);
    for (const char* name : {"Documents", "Dropbox"}) {
      const Node* folder = child(*homeNode, name);
      ASSERT_NE(folder, nullptr) << name;
      EXPECT_EQ(!folder->lock, granted) << name;
    }
    bool docsSkipped = false;
    for (const auto& s : r.skipped) docsSkipped |= s.path == home + "/Documents";
    EXPECT_EQ(docsSkipped, !granted);

    ASSERT_EQ(r.root.children.size(), 2u);
    EXPECT_EQ(r.root.bytes, 50 * kMiB);
    const Node& rest = r.root.children[0];
    EXPECT_EQ(rest.path, "/System");
    EXPECT_FALSE(rest.isFolder);
    EXPECT_EQ(rest.bytes + r.root.children[1].bytes, 50 * kMiB);
  }
}

TEST(DiskScan, LockRuleOverProtectedFolders) {
  Places p = Places::standard("/home/u");
  for (const auto& [path, access, locked] : std::vector<std::tuple<std::string, Access, bool>>{
           {"/home/u/code", {}, false},
           {"/home/u/Documents", {}, true},
           {"/home/u/Documents", {false, true, {}}, false},
           {"/home/u/Documents", {true, false, {}}, false},
           {"/home/u/.var/app", {false, true, {}}, true},
           {"/home/u/.var/app", {true, false, {}}, false},
           {"/home/u/OneDrive", {true, true, {}}, true},
           {"/home/u/OneDrive", {false, false, {"/home/u/OneDrive"}}, false}})
    EXPECT_EQ(isLocked(path, p, access), locked) << path << " " << access.key();
}

TEST(DiskScan, UserFoldersFromUserDirs) {
  using Case = std::tuple<std::string, std::string, std::string>;
  for (const auto& [text, documents, downloads] : std::vector<Case>{
           {"XDG_DOCUMENTS_DIR=\"$HOME/Dokumente\"\n", "/home/u/Dokumente", "/home/u/Downloads"},
           {"# XDG_DOCUMENTS_DIR=\"$HOME/x\"\n  XDG_DOWNLOAD_DIR=\"/data/dl/\"\n",
            "/home/u/Documents", "/data/dl"},
           {"XDG_DOCUMENTS_DIR=\"$HOME/\"\nXDG_DOWNLOAD_DIR=\"relative\"\n", "/home/u/Documents",
            "/home/u/Downloads"},
           {"XDG_DOCUMENTS_DIR=\"$HOME/a\"\nXDG_DOCUMENTS_DIR=\"$HOME/b\"\n", "/home/u/b",
            "/home/u/Downloads"},
           {"\xff\xfe garbage", "/home/u/Documents", "/home/u/Downloads"}}) {
    Places p = withUserDirs(Places::standard("/home/u"), text);
    EXPECT_EQ(std::pair(p.documents, p.downloads), std::pair(documents, downloads)) << text;
    EXPECT_TRUE(isLocked(documents, p, {})) << "the named folder is the protected one";
  }
}

TEST(DiskScan, DeadlineAndCancelGiveAConsistentPartialTree) {
  test::TempDir dir;
  for (int d = 0; d < 12; ++d) {
    auto folder = dir.path() / "t" / ("d" + std::to_string(d));
    fs::create_directories(folder);
    for (int f = 0; f < 500; ++f) std::ofstream(folder / std::to_string(f)) << "x";
  }
  Places places = Places::standard(dir.path().string());
  auto zero = scanFolder(dir.path() / "t", places, {}, 0);
  EXPECT_FALSE(zero.complete);

  Progress progress;
  progress.cancel();
  auto cancelled =
      scan((dir.path() / "t").string(), std::nullopt, {}, 60, progress, {places, {}, std::nullopt});
  EXPECT_FALSE(cancelled.complete);
  EXPECT_GT(cancelled.root.files, 0);
  EXPECT_LT(cancelled.root.files, 6000);
  // Everything counted before the stop is in the tree, and nothing else.
  EXPECT_EQ(progress.files(), cancelled.root.files);
  EXPECT_EQ(progress.bytes(), cancelled.root.bytes);
  EXPECT_FALSE(progress.path().empty());
}

// Deeper than the open folders kept, folders are suspended and resumed; a
// file beside each sub-folder is missed or counted twice unless a resumed
// folder goes on exactly where it stood.
TEST(DiskScan, TreeDeeperThanTheDescriptorLimit) {
  test::TempDir dir;
  // 300 levels of "d/" stay far below PATH_MAX, but not below the descriptor
  // limit set next.
  fs::path p = dir.path() / "t", deep = p;
  for (int i = 0; i < 300; ++i) {
    fs::create_directories(deep / "d");
    std::ofstream(deep / "f") << "x";
    deep /= "d";
  }

  int open = 0;
  for ([[maybe_unused]] const auto& e : fs::directory_iterator("/proc/self/fd")) ++open;
  rlimit old{};
  ::getrlimit(RLIMIT_NOFILE, &old);
  rlimit tight = old;
  tight.rlim_cur = static_cast<rlim_t>(open + 100);
  ASSERT_EQ(::setrlimit(RLIMIT_NOFILE, &tight), 0);
  auto r = scanFolder(p, Places::standard(dir.path().string()));
  ::setrlimit(RLIMIT_NOFILE, &old);
  EXPECT_TRUE(r.complete);
  EXPECT_EQ(r.root.files, 300);
}

// Root reads every folder, so under root the scan runs in a child that has
// given up its privileges; the answer comes back as its exit status.
TEST(DiskScan, UnreadableFolderBecomesANoAccessNode) {
  test::TempDir dir;
  allocate(dir.path() / "closed/f", 2 * kMiB);
  allocate(dir.path() / "open/f", 2 * kMiB);
  fs::permissions(dir.path(), fs::perms::all);
  fs::permissions(dir.path() / "open", fs::perms::all);
  fs::permissions(dir.path() / "open/f", fs::perms::all);
  fs::permissions(dir.path() / "closed", fs::perms::none);
  auto check = [&]() -> int {
    auto r = scanFolder(dir.path(), Places::standard("/nonexistent-home"));
    const Node* closed = child(r.root, "closed");
    if (!closed || closed->lock != Lock::noAccess) return 1;
    if (r.root.files != 1 || !r.complete) return 2;
    return 0;
  };
  int outcome;
  if (::geteuid() != 0) {
    outcome = check();
  } else {
    pid_t pid = ::fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
      if (::setgid(65534) != 0 || ::setuid(65534) != 0) ::_exit(3);
      ::_exit(check());
    }
    int status = 0;
    for (int waited = 0; ::waitpid(pid, &status, WNOHANG) == 0; ++waited) {
      if (waited > 300) ::kill(pid, SIGKILL);
      ::usleep(20000);
    }
    outcome = WIFEXITED(status) ? WEXITSTATUS(status) : 4;
  }
  fs::permissions(dir.path() / "closed", fs::perms::owner_all);
  EXPECT_EQ(outcome, 0) << "1: no noAccess node, 2: wrong count, 3: could not drop root";
}

TEST(DirectoryReader, EntriesThatVanishAfterTheListingAreGone) {
  test::TempDir dir;
  fs::create_directories(dir.path() / "sub");
  platform::DirectoryReader reader, childReader;
  platform::EntryStatus st;
  ASSERT_EQ(reader.openPath(dir.path().string(), st), platform::OpenOutcome::opened);
  std::string_view name;
  ASSERT_TRUE(reader.next(name));
  ASSERT_EQ(name, "sub");
  platform::EntryStatus sub;
  ASSERT_TRUE(reader.status(name.data(), sub));
  fs::remove(dir.path() / "sub");
  EXPECT_FALSE(reader.status(name.data(), sub));
  EXPECT_EQ(childReader.openChild(reader, name.data(), sub), platform::OpenOutcome::gone);
}

}  // namespace
}  // namespace norvo::DiskUsage
