#include "core/measure/norvo_config.hpp"

#include <gtest/gtest.h>

#include "test_support.hpp"

namespace norvo {
namespace {

TEST(NorvoConfigLoad, BrokenFilesGiveTheWholeDefaults) {
  test::TempDir dir;
  EXPECT_EQ(NorvoConfig::load(dir.path()), NorvoConfig::defaults());
  const char* broken[] = {
      "",
      "{",
      "[]",
      R"({"agentCommands":["x"],"agentArgumentMarkers":[],"aiApps":[]})",
      R"({"agentCommands":"claude","agentArgumentMarkers":[],"aiApps":[],"neverSuggest":[]})",
      R"({"agentCommands":[1],"agentArgumentMarkers":[],"aiApps":[],"neverSuggest":[]})",
      R"({"agentCommands":[],"agentArgumentMarkers":[],"aiApps":[],"neverSuggest":[],"projectRoots":"~"})",
  };
  for (const char* text : broken) {
    dir.write("config.json", text);
    EXPECT_EQ(NorvoConfig::load(dir.path()), NorvoConfig::defaults()) << text;
  }
}

TEST(NorvoConfigLoad, ValidFileReplacesListsWithoutMerging) {
  test::TempDir dir;
  dir.write("config.json",
            R"({"agentCommands":["mybot"],"agentArgumentMarkers":[],"aiApps":["Zed"],)"
            R"("neverSuggest":[],"projectRoots":["/home/owner/src"],"unknown":1})");
  auto c = NorvoConfig::load(dir.path());
  EXPECT_EQ(c.agentCommands, std::vector<std::string>{"mybot"});
  EXPECT_TRUE(c.agentArgumentMarkers.empty());
  EXPECT_TRUE(c.neverSuggest.empty());
  ASSERT_TRUE(c.projectRoots.has_value());
  EXPECT_EQ(c.projectRoots->front(), "/home/owner/src");
  EXPECT_EQ(NorvoConfig::defaults().agentCommands.size(), 12u);
  EXPECT_FALSE(nlohmann::json(NorvoConfig::defaults()).contains("projectRoots"));
}

}  // namespace
}  // namespace norvo
