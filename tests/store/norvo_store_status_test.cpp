#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include "core/store/norvo_store.hpp"
#include "test_support.hpp"

namespace norvo {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono;

NorvoSnapshot snapshotAged(seconds age) {
  NorvoSnapshot s;
  // Rounded up so that the whole-second date in the file is not older than asked.
  s.metrics.timestamp = ceil<seconds>(system_clock::now() - age);
  s.assessment.level = LoadLevel::busy;
  s.assessment.reasons = {"memory is tight"};
  return s;
}

TEST(NorvoStoreStatus, AgeRuleAtItsEdgesAndWhatIsReadBack) {
  Date now = sys_days{year{2026} / 5 / 1} + hours(12);
  for (auto [age, maxAge, fresh] : std::vector<std::tuple<milliseconds, double, bool>>{
           {seconds(30), 30, true},
           {milliseconds(30001), 30, false},
           {seconds(-3600), 0, true}})  // dated in the future
    EXPECT_EQ(NorvoStore::statusIsFresh(now - age, maxAge, now), fresh)
        << age.count() << " ms old, max " << maxAge;

  test::TempDir tmp;
  fs::path dir = tmp.path() / "new" / "store";
  NorvoSnapshot s = snapshotAged(seconds(5));
  NorvoStore::saveStatus(s, dir);
  auto back = NorvoStore::cachedStatus(30, dir);
  ASSERT_TRUE(back.has_value());
  EXPECT_EQ(nlohmann::json(*back), nlohmann::json(s));
  EXPECT_FALSE(NorvoStore::cachedStatus(1, dir).has_value());

  // Unreadable status files are absent, and left as they are.
  std::string good = json_codec::encodeRecord(snapshotAged(seconds(1)));
  for (auto [name, content] : std::vector<std::pair<std::string, std::string>>{
           {"empty", ""},
           {"truncated", good.substr(0, good.size() - 5)},
           {"other record", R"({"name":"x","since":"2026-01-01T00:00:00Z"})"},
           {"bad date",
            std::string(good).replace(good.find("\"timestamp\":\"") + 13, 4, "yyyy")}}) {
    tmp.write(fs::path(name) / "status.json", content);
    EXPECT_FALSE(NorvoStore::cachedStatus(1e9, tmp.path() / name).has_value()) << name;
    EXPECT_EQ(test::readFile(tmp.path() / name / "status.json"), content) << name;
  }
  fs::create_directories(tmp.path() / "folder/status.json");
  EXPECT_FALSE(NorvoStore::cachedStatus(1e9, tmp.path() / "folder").has_value());
  fs::create_directories(tmp.path() / "fifo");
  ASSERT_EQ(::mkfifo((tmp.path() / "fifo/status.json").c_str(), 0600), 0);
  EXPECT_FALSE(NorvoStore::cachedStatus(1e9, tmp.path() / "fifo").has_value());
}

}  // namespace
}  // namespace norvo
