// A write that a caller waits on says whether it happened and why not, and
// the pending listing keeps every record that decodes.
#include <gtest/gtest.h>

#include "core/store/norvo_store.hpp"
#include "test_support.hpp"

namespace norvo {
namespace {

TEST(StoreWrites, FailuresNameTheFileAndTheReason) {
  test::TempDir dir;
  // A store under a regular file cannot be written, even by root.
  auto blocked = dir.write("not-a-folder", "") / "ZemraNorvo";
  auto s = QuitSuggestion::make("agent pid 7", "slow build", {});
  auto filed = NorvoStore::addSuggestion(s, blocked);
  EXPECT_FALSE(filed);
  EXPECT_NE(filed.error.find("Not a directory"), std::string::npos) << filed.error;
  EXPECT_FALSE(NorvoStore::saveStatus(NorvoSnapshot{}, blocked));
  EXPECT_FALSE(NorvoStore::setScanUserFolders(true, blocked));
  EXPECT_FALSE(NorvoStore::addScan(NorvoStore::ScanRequest::make(), blocked));
  EXPECT_NO_THROW(NorvoStore::log({Date{}, "ai", "kill", 1, "p", ""}, blocked));
  EXPECT_FALSE(NorvoStore::resolve(s, blocked));
  EXPECT_FALSE(NorvoStore::suggestion(s.id, blocked));

  auto badId = NorvoStore::finishScan("../escape", "{}", dir.path());
  EXPECT_NE(badId.error.find("../escape"), std::string::npos);

  EXPECT_TRUE(NorvoStore::addSuggestion(s, dir.path()));
  EXPECT_TRUE(NorvoStore::suggestion(s.id, dir.path()));
}

TEST(StoreWrites, PendingListingKeepsRecordsUnderAnotherFileName) {
  test::TempDir dir;
  auto s = QuitSuggestion::make("agent", "why", {});
  ASSERT_TRUE(NorvoStore::addSuggestion(s, dir.path()));
  std::filesystem::rename(NorvoStore::pendingDir(dir.path()) / (s.id + ".json"),
                          NorvoStore::pendingDir(dir.path()) / "renamed.json");
  auto pending = NorvoStore::pendingSuggestions(dir.path());
  ASSERT_EQ(pending.size(), 1u);
  EXPECT_EQ(pending[0].id, s.id);
}

}  // namespace
}  // namespace norvo
