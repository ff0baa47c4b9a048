// Codex CLI's config.toml keeps the owner's comments and layout wherever the
// text edit provably equals the parsed change, and is never written from a
// document that did not parse.
#include "core/integration/codex_config.hpp"

#include <gtest/gtest.h>

namespace norvo::codex_config {
namespace {

const std::string kEntry =
    "[mcp_servers.zemra-norvo]\ncommand = \"/h/zemnorvo\"\nargs = [\"mcp\"]\n";

TEST(CodexConfig, AddsAndRemovesOnlyTheProductsTable) {
  struct Case {
    const char* name;
    std::string before, connected, disconnected;
  };
  const std::string owner =
      "# my settings\nmodel = \"o3\" # the best\n\n[mcp_servers.docs]\ncommand = \"docs\"\n";
  const Case cases[] = {
      // No file yet: integration_test's fresh home.
      {"the owner's tables and comments", owner, owner + "\n" + kEntry, owner},
      {"a stale entry between two tables, quoted",
       "a = 1\n\n[mcp_servers.\"zemra-norvo\"]  # ours\ncommand = \"/old\"\n\n# the profile\n"
       "[profiles.x]\nb = 2\n",
       "a = 1\n\n# the profile\n[profiles.x]\nb = 2\n\n" + kEntry,
       "a = 1\n\n# the profile\n[profiles.x]\nb = 2\n"},
      {"already there", "x = 1\n\n" + kEntry, "x = 1\n\n" + kEntry, "x = 1\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    std::string error;
    auto connected = withServer(c.before, "/h/zemnorvo", error);
    ASSERT_TRUE(connected) << error;
    EXPECT_EQ(*connected, c.connected);
    EXPECT_TRUE(hasServer(*connected));
    auto disconnected = withoutServer(*connected, error);
    ASSERT_TRUE(disconnected) << error;
    EXPECT_EQ(*disconnected, c.disconnected);
    EXPECT_FALSE(hasServer(*disconnected));
  }
}

TEST(CodexConfig, FallsBackToTheParsedDocumentWhenTheTextCannotBeEdited) {
  // Our entry as dotted keys and with a sub-table: no header line to cut.
  const std::string cases[] = {
      "[mcp_servers]\nzemra-norvo.command = \"/old\"\nother = { command = \"o\" }\n",
      "mcp_servers = 5\n",
      "[mcp_servers.zemra-norvo]\ncommand = \"/old\"\n[mcp_servers.zemra-norvo.env]\nA = \"1\"\n",
  };
  for (const auto& before : cases) {
    SCOPED_TRACE(before);
    std::string error;
    auto connected = withServer(before, "/h/zemnorvo", error);
    ASSERT_TRUE(connected) << error;
    EXPECT_TRUE(hasServer(*connected));
    EXPECT_EQ(withServer(*connected, "/h/zemnorvo", error), connected);
    auto disconnected = withoutServer(*connected, error);
    ASSERT_TRUE(disconnected) << error;
    EXPECT_FALSE(hasServer(*disconnected));
    EXPECT_EQ(disconnected->find("zemra-norvo"), std::string::npos) << *disconnected;
    // The owner's other server survives the round trip.
    EXPECT_EQ(disconnected->find("other") == std::string::npos,
              before.find("other") == std::string::npos)
        << *disconnected;
  }
}

TEST(CodexConfig, RefusesWhatIsNotToml) {
  for (const std::string bad :
       {"[mcp_servers\n", "a = 1\na = 2\n", "x = \"\xff\"\n", "[a]\nb=1\n[a]\nb=1\n"}) {
    std::string error;
    EXPECT_FALSE(withServer(bad, "/h/zemnorvo", error)) << bad;
    EXPECT_EQ(error.rfind("it is not valid TOML (line ", 0), 0u) << error;
    EXPECT_FALSE(withoutServer(bad, error)) << bad;
  }
}

}  // namespace
}  // namespace norvo::codex_config
