#include "core/store/widget_snapshot.hpp"

#include <gtest/gtest.h>

#include "test_support.hpp"

namespace norvo {
namespace {

using namespace std::chrono;

SystemMetrics::Volume volume(std::string path, std::string name) {
  return {std::move(path), std::move(name), 2, 1};
}

// The widget shows the boot volume first and at most four app groups, marking
// only agents as AI; the record it reads back must be the one written.
TEST(WidgetSnapshot, BuiltFromASnapshotAndReadBack) {
  NorvoSnapshot s;
  s.metrics.timestamp = sys_days{year{2026} / 3 / 4} + hours{5} + minutes{6} + seconds{7};
  s.assessment.level = LoadLevel::overloaded;
  s.metrics.volumes = {volume("/media/z", "Z"), volume("/", "root"), volume("/home", "home")};
  for (auto [name, category] :
       std::vector<std::pair<std::string, ProcessCategory>>{{"claude", ProcessCategory::aiAgent},
                                                            {"ollama", ProcessCategory::aiInfra},
                                                            {"cargo", ProcessCategory::aiTask},
                                                            {"Code", ProcessCategory::userApp},
                                                            {"late", ProcessCategory::aiAgent}}) {
    s.apps.emplace_back();
    s.apps.back().name = name;
    s.apps.back().category = category;
  }
  WidgetSnapshot w(s);
  std::vector<std::pair<std::string, bool>> disks, apps;
  for (const auto& d : w.disks) disks.emplace_back(d.name, d.external);
  for (const auto& a : w.apps) apps.emplace_back(a.name, a.ai);
  EXPECT_EQ(disks, (decltype(disks){{"root", false}, {"Z", true}, {"home", true}}));
  EXPECT_EQ(apps, (decltype(apps){
                      {"claude", true}, {"ollama", false}, {"cargo", false}, {"Code", false}}));
  EXPECT_EQ(json_codec::decodeAs<WidgetSnapshot>(json_codec::encodeRecord(w)), w);
}

TEST(WidgetSnapshot, OlderOrBrokenRecords) {
  const std::string minimal =
      R"({"apps":[],"cpu":0.5,"date":"2026-03-04T05:06:07Z","disks":[],"jobs":1,"level":"busy",)"
      R"("memoryTotal":2,"memoryUsed":1,"pressure":"normal","swapBytes":0})";
  auto ok = json_codec::decodeAs<WidgetSnapshot>(minimal);
  ASSERT_TRUE(ok.has_value());
  EXPECT_EQ(ok->level, LoadLevel::busy);
  EXPECT_FALSE(ok->network.has_value());
  // A level this record does not have is no level at all.
  std::string calm = minimal;
  calm.replace(calm.find("busy"), 4, "calm");
  EXPECT_FALSE(json_codec::decodeAs<WidgetSnapshot>(calm).has_value());
}

}  // namespace
}  // namespace norvo
