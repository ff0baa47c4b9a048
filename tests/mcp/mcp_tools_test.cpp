#include "cli/mcp_tools.hpp"

#include <gtest/gtest.h>

namespace norvo::mcp {
namespace {

using nlohmann::json;

const std::vector<Param> kParams = {
    Param::pid("pid", "Process to stop"),
    {.name = "force", .type = ParamType::Boolean},
    {.name = "reason", .type = ParamType::String, .maxLength = 5},
    {.name = "ratio", .type = ParamType::Number},
    {.name = "mode", .type = ParamType::String, .allowed = {"soft", "hard"}},
    {.name = "paths", .type = ParamType::StringList, .maxLength = 4, .maxItems = 2},
    {.name = "ids", .type = ParamType::IntegerList, .minimum = 0, .maximum = 9, .maxItems = 3},
};

TEST(McpArguments, AcceptsWellFormedArgumentsAndReadsThemBack) {
  // Five characters, ten bytes; 9.0 is an integer.
  auto args = Arguments::check(kParams, json::parse(R"({"pid":123,"force":true,"reason":"ÄÖÜßé",
    "ratio":0.25,"mode":"hard","paths":["/tmp","/a"],"ids":[0,9.0]})"));
  EXPECT_EQ(args.integer("pid"), 123);
  EXPECT_TRUE(args.boolean("force", false));
  EXPECT_EQ(args.string("reason"), "ÄÖÜßé");
  EXPECT_EQ(args.number("ratio"), 0.25);
  EXPECT_EQ(args.strings("paths"), (std::vector<std::string>{"/tmp", "/a"}));
  EXPECT_EQ(args.integers("ids"), (std::vector<std::int64_t>{0, 9}));
  // Optional values left out, or sent as null, read as their fallbacks.
  auto sparse = Arguments::check(kParams, {{"pid", 1}, {"force", nullptr}});
  EXPECT_FALSE(sparse.has("force"));
  EXPECT_TRUE(sparse.boolean("force", true));
}

TEST(McpArguments, RefusesEachKindOfBadArgumentNamingIt) {
  struct Case {
    json arguments;
    std::string message;
  } cases[] = {
      // No arguments at all and a pid of 0 are refused end to end (zemnorvo_mcp_e2e.mjs).
      {nullptr, "Missing required argument \"pid\"."},
      {{{"pid", nullptr}}, "Missing required argument \"pid\"."},
      {json::array({1}), "Invalid arguments: expected a JSON object."},
      {{{"pid", 2147483648LL}},
       "Invalid argument \"pid\": it must be from 1 to 2147483647 (got 2147483648)."},
      {{{"pid", 18446744073709551615ULL}}, "Invalid argument \"pid\": expected an integer."},
      {{{"pid", 1e300}}, "Invalid argument \"pid\": expected an integer."},
      {{{"pid", true}}, "Invalid argument \"pid\": expected an integer."},
      {{{"pid", 1}, {"force", "yes"}}, "Invalid argument \"force\": expected true or false."},
      {{{"pid", 1}, {"reason", "sixsix"}},
       "Invalid argument \"reason\": it is longer than 5 characters."},
      {{{"pid", 1}, {"reason", "a\xc3"}}, "Invalid argument \"reason\": it is not valid UTF-8."},
      {{{"pid", 1}, {"ratio", "1"}}, "Invalid argument \"ratio\": expected a number."},
      {{{"pid", 1}, {"mode", "Hard"}},
       "Invalid argument \"mode\": it must be one of \"soft\", \"hard\"."},
      {{{"pid", 1}, {"paths", "/tmp"}}, "Invalid argument \"paths\": expected a list of strings."},
      {{{"pid", 1}, {"paths", {"a", "b", "c"}}},
       "Invalid argument \"paths\": at most 2 items are accepted."},
      {{{"pid", 1}, {"paths", {"a", 5}}}, "Invalid argument \"paths\": item 2 is not a string."},
      {{{"pid", 1}, {"paths", {"abcde"}}},
       "Invalid argument \"paths\": item 1 is longer than 4 characters."},
      {{{"pid", 1}, {"ids", {1, 10}}},
       "Invalid argument \"ids\": item 2 must be from 0 to 9 (got 10)."},
      {{{"pid", 1}, {"ids", {"1"}}}, "Invalid argument \"ids\": item 1 is not an integer."},
      {{{"pid", 1}, {"command", "rm -rf /"}},
       "Unknown argument \"command\". Accepted: pid, force, reason, ratio, mode, paths, ids."},
  };
  for (const auto& c : cases) {
    try {
      Arguments::check(kParams, c.arguments);
      ADD_FAILURE() << "accepted " << c.arguments;
    } catch (const ToolError& e) {
      EXPECT_EQ(std::string(e.what()), c.message) << c.arguments;
    }
  }
  EXPECT_THROW(Arguments::check({}, {{"x", 1}}), ToolError);
  EXPECT_NO_THROW(Arguments::check({}, json::object()));
}

}  // namespace
}  // namespace norvo::mcp
