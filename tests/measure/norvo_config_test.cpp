// Which config.json is in force, why another one was passed over, and what a
// usable one changes.
#include "core/measure/norvo_config.hpp"

#include <gtest/gtest.h>

#include "test_support.hpp"

namespace norvo {
namespace {

TEST(ConfigSource, FirstUsableFileWinsAndEveryPassedOverFileSaysWhy) {
  const std::string valid =
      R"({"agentCommands":["mine"],"agentArgumentMarkers":[],"aiApps":[],"neverSuggest":[]})";
  struct Row {
    const char* name;
    std::optional<std::string> xdg, store;
    std::optional<int> usedIndex;  // 0: the configuration folder's, 1: the store's
    std::vector<std::string> reasons;
  };
  const Row rows[] = {
      {"neither exists", std::nullopt, std::nullopt, std::nullopt, {}},
      {"the configuration folder's first", valid, "{}", 0, {}},
      {"a broken one falls back to the store's", "{not json", valid, 1, {"not JSON"}},
      {"a key missing",
       R"({"agentCommands":[],"aiApps":[],"neverSuggest":[]})",
       std::nullopt,
       std::nullopt,
       {"agentArgumentMarkers"}},
      {"a key of the wrong type",
       R"({"agentCommands":"claude","agentArgumentMarkers":[],"aiApps":[],"neverSuggest":[]})",
       std::nullopt,
       std::nullopt,
       {"agentCommands"}},
  };
  for (const auto& row : rows) {
    test::TempDir dir;
    std::vector<std::filesystem::path> files{dir.path() / "config/config.json",
                                             dir.path() / "store/config.json"};
    if (row.xdg) dir.write("config/config.json", *row.xdg);
    if (row.store) dir.write("store/config.json", *row.store);
    NorvoConfig::Source source;
    auto config = NorvoConfig::load(files, source);
    if (row.usedIndex) {
      EXPECT_EQ(source.file, files[static_cast<size_t>(*row.usedIndex)]) << row.name;
      // The file's lists replace the defaults rather than adding to them.
      EXPECT_EQ(config.agentCommands, std::vector<std::string>{"mine"}) << row.name;
    } else {
      EXPECT_FALSE(source.file) << row.name;
      EXPECT_EQ(config, NorvoConfig::defaults()) << row.name;
    }
    ASSERT_EQ(source.ignored.size(), row.reasons.size()) << row.name;
    for (size_t i = 0; i < row.reasons.size(); ++i)
      EXPECT_NE(source.ignored[i].find(row.reasons[i]), std::string::npos)
          << row.name << ": " << source.ignored[i];
  }
}

}  // namespace
}  // namespace norvo
