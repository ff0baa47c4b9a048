#include "core/platform/named_process.hpp"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include "core/platform/linux/named_process_parsers.hpp"
#include "test_support.hpp"

namespace norvo::platform {
namespace {

using namespace std::string_literals;

TEST(NamedProcessParse, RealUidNamesAndPidEntries) {
  for (const auto& [text, uid] : std::vector<std::pair<std::string, std::optional<uint32_t>>>{
           {"Name:\tbash\nUid:\t1000\t1000\t1000\t1000\nGid:\t100\t100\t100\t100\n", 1000},
           {"Uid:\t1004\t0\t0\t0", 1004},  // real, not effective; no final line feed
           {"NotUid:\t5\nUid:  7 7 7 7\n", 7},
           {"Name:\tx\nGid:\t5\t5\t5\t5\n", std::nullopt},
           {"Uid:\t\n", std::nullopt},
           {"Uid:\t-1\t0\t0\t0\n", std::nullopt},
           {"Uid:\t4294967296\t0\t0\t0\n", std::nullopt}})
    EXPECT_EQ(parse::statusRealUid(text), uid) << text;

  EXPECT_EQ(parse::commName("Zemra Norvo\n"), "Zemra Norvo");
  EXPECT_EQ(parse::commName("trailing  \n"), "trailing  ");
  EXPECT_EQ(parse::cmdlineName("/opt/z/Zemra Norvo\0--flag\0"s), "Zemra Norvo");
  EXPECT_EQ(parse::cmdlineName("relative\0"s), "relative");
  EXPECT_EQ(parse::cmdlineName("/usr/bin/\0"s), "bin");
  EXPECT_EQ(parse::cmdlineName(""), "");
  for (const char* name : {"1", "4194304"}) EXPECT_TRUE(parse::isPidEntry(name)) << name;
  for (const char* name : {"", "self", "12a", "-1", "thread-self"})
    EXPECT_FALSE(parse::isPidEntry(name)) << name;
}

TEST(NamedProcessExists, MatchesExactNameOfTheGivenOwner) {
  Roots roots = Roots::under(test::fixture("linux/app_process_listed"));
  for (const auto& [uid, found, why] : std::vector<std::tuple<uint32_t, bool, const char*>>{
           {1000, true, "plain match"},
           {1005, true, "another user's process, asked for that user"},
           {1001, true, "empty kernel name, command name matches"},
           {1004, true, "owner is the real user id"},
           {1002, false, "matching name but its status vanished"},
           {1003, false, "only near names: longer, other case"},
           {0, false, "no process of this user has the name"}})
    EXPECT_EQ(named_process::exists(roots, "Zemra Norvo", uid), found) << why;
  EXPECT_FALSE(named_process::exists(Roots::under("/nonexistent"), "Zemra Norvo", 1000));
}

}  // namespace
}  // namespace norvo::platform
