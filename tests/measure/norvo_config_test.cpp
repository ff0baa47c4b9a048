#include "core/measure/norvo_config.hpp"

#include <gtest/gtest.h>

#include "test_support.hpp"

namespace norvo {
namespace {

TEST(NorvoConfigLoad, BrokenFilesGiveTheWholeDefaultsValidOnesReplaceLists) {
  test::TempDir dir;
  EXPECT_EQ(NorvoConfig::load(dir.path()), NorvoConfig::defaults());
  const std::string lists = R"("agentArgumentMarkers":[],"aiApps":[],"neverSuggest":[])";
  // Not JSON, a key missing or a list given as text: see config_source_test.
  for (const std::string& text :
       std::vector<std::string>{"[]", R"({"agentCommands":[1],)" + lists + "}",
                                R"({"agentCommands":[],"projectRoots":"~",)" + lists + "}"}) {
    dir.write("config.json", text);
    EXPECT_EQ(NorvoConfig::load(dir.path()), NorvoConfig::defaults()) << text;
  }
  // Lists replace the defaults without merging; unknown keys are ignored.
  dir.write("config.json",
            R"({"agentCommands":["mybot"],"agentArgumentMarkers":[],"aiApps":["Zed"],)"
            R"("neverSuggest":[],"projectRoots":["/home/owner/src"],"unknown":1})");
  auto c = NorvoConfig::load(dir.path());
  EXPECT_EQ(c.agentCommands, std::vector<std::string>{"mybot"});
  EXPECT_EQ(c.aiApps, std::vector<std::string>{"Zed"});
  EXPECT_TRUE(c.agentArgumentMarkers.empty());
  EXPECT_TRUE(c.neverSuggest.empty());
  EXPECT_EQ(c.projectRoots, std::vector<std::string>{"/home/owner/src"});
  EXPECT_FALSE(nlohmann::json(NorvoConfig::defaults()).contains("projectRoots"));
}

}  // namespace
}  // namespace norvo
