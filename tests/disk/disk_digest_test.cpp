#include "core/disk/disk_digest.hpp"

#include <gtest/gtest.h>

#include "core/records/json_codec.hpp"
#include "disk/disk_trees.hpp"

namespace norvo {
namespace {

using namespace DiskUsage;
using test::kGiB;
using test::kMiB;

using test::folder;

TEST(DiskDigest, MinimumSizeFollowsTheTreeAndLocksShowAtTheTopOnly) {
  Places p = Places::standard("/home/u");
  Node locked = folder("/home/u/Documents", 0);
  locked.lock = Lock::privacy;
  for (auto [total, child, shown] :
       std::vector<std::tuple<int64_t, int64_t, bool>>{{10 * kGiB, 100 * kMiB, true},
                                                       {10 * kGiB, 100 * kMiB - 1, false},
                                                       {400 * kGiB, 2 * kGiB, true},
                                                       {400 * kGiB, 2 * kGiB - 1, false}}) {
    Report r;
    r.root = folder("/home/u", total, {folder("/home/u/x", child, {locked}), locked});
    std::map<std::string, nlohmann::json> kids;
    auto out = Compact::diskReport(r, 3, p, {});
    for (const auto& k : out["scanned"]["children"]) kids[k["path"]] = k;
    EXPECT_EQ(kids.count("/home/u/x"), shown ? 1u : 0u) << total << " " << child;
    EXPECT_FALSE(kids["/home/u/x"].contains("children"));
    EXPECT_TRUE(kids["/home/u/Documents"]["size_gb"].is_null());
  }
}

TEST(DiskDigest, DepthAndTheRestOfTheReport) {
  Places p = Places::standard("/home/u");
  Report r;
  r.root = folder("/home/u", 10 * kGiB, {folder("/home/u/a", kGiB, {folder("/home/u/a/b", kGiB)})});
  for (int i = 0; i < 30; ++i) r.bigFiles.push_back({"/home/u/f" + std::to_string(i), kGiB, {}});
  r.advice = {{"/home/u/.cache", ".cache", 3 * kGiB, kind("/home/u/.cache", p)},
              {"/home/u/a", "a", kGiB, kind("/home/u/a", p)},
              {"/home/u/.cache/x", "x", kGiB, kind("/home/u/.cache/x", p)}};
  r.volume = {"/", "root", 100 * kGiB, 40 * kGiB, 0, true, false, "ext4"};

  EXPECT_FALSE(Compact::diskReport(r, 0, p, {})["scanned"].contains("children"));
  auto one = Compact::diskReport(r, 1, p, {});
  ASSERT_EQ(one["scanned"]["children"].size(), 1u);
  EXPECT_FALSE(one["scanned"]["children"][0].contains("children"));
  EXPECT_TRUE(Compact::diskReport(r, 2, p, {})["scanned"]["children"][0].contains("children"));

  EXPECT_EQ(one["largest_files"].size(), 25u);
  EXPECT_EQ(one["advice_totals_may_overlap"]["safe_gb"], 4.0);
  EXPECT_EQ(one["advice_totals_may_overlap"]["review_gb"], 1.0);
  EXPECT_FALSE(one.contains("free_change_gb"));

  Compact::FreeChangeLookup lookup = [](const std::string& path, double days, int64_t free,
                                        Date) -> std::optional<Compact::FreeChange> {
    if (path != "/" || days != 7) return std::nullopt;
    return Compact::FreeChange{free - 45 * kGiB, *parseIso8601("2026-11-02T00:00:00Z")};
  };
  auto later = Compact::diskReport(r, 1, p, lookup);
  EXPECT_EQ(later["free_change_gb"], -5.0);
  EXPECT_EQ(later["free_change_since"], "2026-11-02T00:00:00Z");
}

TEST(DiskReport, TreeOperations) {
  Node tree =
      folder("/", 10, {folder("/a", 6, {folder("/a/b", 4), folder("/ab", 1)}), folder("/c", 3)});
  EXPECT_EQ(find("/a/b", tree)->bytes, 4);
  EXPECT_EQ(find("/a/x", tree), nullptr);

  EXPECT_EQ(sizeMap(tree, 0, 0).size(), 1u);
  auto map = sizeMap(tree, 4, 10);
  EXPECT_EQ(map.size(), 3u);  // "/", "/a", "/a/b"; "/c" and "/ab" are too small
  tree.lock = Lock::noAccess;
  EXPECT_TRUE(sizeMap(tree, 0, 10).empty());
  // A rescan folded in: the ancestors grow by the difference, their file
  // counts stay; a path that is not in the tree changes nothing.
  tree.files = 7;
  tree.children[0].files = 5;
  Node before = tree;
  EXPECT_FALSE(graft(folder("/d/e", 1), tree));
  EXPECT_EQ(tree, before);
  Node fresh = folder("/a/b", 9);
  fresh.recentBytes = 2;
  ASSERT_TRUE(graft(fresh, tree));
  EXPECT_EQ(tree.bytes, 15);
  EXPECT_EQ(tree.children[0].bytes, 11);
  EXPECT_EQ(tree.recentBytes, 2);
  EXPECT_EQ(tree.files, 7);
  EXPECT_EQ(tree.children[0].files, 5);
}

TEST(DiskReport, AccessKeysAndRoundTrip) {
  EXPECT_EQ((Access{false, false, {}}).key(), "-");
  EXPECT_EQ((Access{true, true, {}}).key(), "fda+user");
  EXPECT_EQ((Access{false, true, {"/b", "/a"}}).key(), "-+user/a,/b");

  Report r = sample("/home/u", *parseIso8601("2026-11-20T12:00:00Z"));
  auto text = json_codec::encodeRecord(r);
  EXPECT_EQ(json_codec::decodeAs<Report>(text), r);
}

}  // namespace
}  // namespace norvo
