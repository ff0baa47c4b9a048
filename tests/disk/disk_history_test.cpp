#include "core/disk/disk_history.hpp"

#include <gtest/gtest.h>

#include "core/disk/disk_report.hpp"
#include "test_support.hpp"

namespace norvo::DiskHistory {
namespace {

using std::chrono::hours;
using std::chrono::minutes;

Date at(const char* iso) { return *parseIso8601(iso); }

TEST(DiskHistory, FreePointsOnePerHourAndThirtyDays) {
  test::TempDir dir;
  Date t0 = at("2026-11-01T10:00:00Z");
  ASSERT_TRUE(recordFree(dir.path(), {{"/", 100}, {"/data", 5}}, t0));
  ASSERT_TRUE(recordFree(dir.path(), {{"/", 90}}, t0 + minutes(10)));
  EXPECT_EQ(readFree(dir.path()).size(), 2u) << "a second point within the hour is not kept";
  ASSERT_TRUE(recordFree(dir.path(), {{"/", 70}}, t0 + hours(24 * 30 + 1)));
  auto kept = readFree(dir.path());
  ASSERT_EQ(kept.size(), 1u) << "points over 30 days old are dropped";
  EXPECT_EQ(kept.back().free, 70);
}

TEST(DiskHistory, FreeChangePicksThePointNearestTheTarget) {
  test::TempDir dir;
  Date now = at("2026-11-10T12:00:00Z");
  ASSERT_TRUE(recordFree(dir.path(), {{"/", 300}}, now - hours(72)));
  ASSERT_TRUE(recordFree(dir.path(), {{"/", 200}}, now - hours(26)));
  ASSERT_TRUE(recordFree(dir.path(), {{"/", 150}}, now - minutes(30)));
  auto c = freeChange(dir.path(), "/", 1, 120, now);
  ASSERT_TRUE(c.has_value());
  EXPECT_EQ(c->bytes, -80);
  EXPECT_EQ(c->since, now - hours(26));
  EXPECT_FALSE(freeChange(dir.path(), "/other", 1, 120, now).has_value());
  // Asked for now, the point of 30 minutes ago would be nearest, but a point
  // younger than an hour never qualifies.
  EXPECT_EQ(freeChange(dir.path(), "/", 0, 120, now)->since, now - hours(26));
}

DiskUsage::Report reportOf(const std::string& volume, const std::string& key, int64_t bytes) {
  DiskUsage::Report r;
  r.volume.path = volume;
  r.accessKey = key;
  r.root.path = volume;
  r.root.bytes = bytes;
  r.complete = true;
  return r;
}

TEST(DiskHistory, SnapshotsOnePerDayAndGrantWithAWeekOldBaseline) {
  test::TempDir dir;
  Date now = at("2026-11-20T12:00:00Z");
  const int64_t big = 100ll << 20;
  ASSERT_TRUE(recordSnapshot(dir.path(), reportOf("/", "-", big), now - hours(24 * 8)));
  ASSERT_TRUE(recordSnapshot(dir.path(), reportOf("/", "-", 2 * big), now - hours(24 * 6)));
  ASSERT_TRUE(recordSnapshot(dir.path(), reportOf("/", "fda", 3 * big), now - hours(24 * 7)));
  ASSERT_TRUE(recordSnapshot(dir.path(), reportOf("/", "-", 4 * big), now - hours(19)));
  auto b = baseline(dir.path(), "/", "-", now);
  ASSERT_TRUE(b.has_value());
  EXPECT_EQ(b->date, now - hours(24 * 8)) << "8 and 6 days tie; the earlier wins";
  EXPECT_EQ(b->sizes.at("/"), big);
  EXPECT_EQ(baseline(dir.path(), "/", "fda", now)->sizes.at("/"), 3 * big);

  EXPECT_FALSE(baseline(dir.path(), "/", "fda", now - hours(24 * 7 - 19)).has_value())
      << "a snapshot younger than 20 hours is no baseline";
}

TEST(DiskHistory, CorruptOrForeignFilesReadAsEmptyAndAreReplaced) {
  test::TempDir dir;
  Date now = at("2026-11-20T12:00:00Z");
  for (const char* text :
       {"", "{not json", R"({"date":"x"})", R"([{"path":"/","free":"many"}])", "\xff\xfe"}) {
    dir.write("free.json", text);
    EXPECT_TRUE(readFree(dir.path()).empty()) << text;
    EXPECT_FALSE(freeChange(dir.path(), "/", 1, 0, now).has_value());
  }
  ASSERT_TRUE(recordFree(dir.path(), {{"/", 1}}, now));
  EXPECT_EQ(readFree(dir.path()).size(), 1u);
}

}  // namespace
}  // namespace norvo::DiskHistory
