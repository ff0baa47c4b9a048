#include "core/platform/linux/update_source_parsers.hpp"

#include <gtest/gtest.h>

#include <array>

#include "core/platform/update_source.hpp"
#include "test_support.hpp"

namespace norvo::platform::parse {
namespace {

using namespace std::string_literals;

TEST(UpdateSourceParsers, FlathubRemotesAndKernelVersions) {
  EXPECT_EQ(flatpakOrigin("flathub\0\x01\x02"s), "flathub");
  for (auto bad : {"\0flathub"s, "flat\x01hub\0"s, "no end"s}) EXPECT_FALSE(flatpakOrigin(bad));

  const char* config =
      "[core]\nurl=https://dl.flathub.org/repo/\n[remote \"mine\"]\nurl = https://example.org/\n";
  EXPECT_EQ(remoteUrl(config, "mine"), "https://example.org/");
  EXPECT_FALSE(remoteUrl(config, "core"));  // a group that is not that remote
  for (auto [url, flathub] : {std::pair{"https://dl.flathub.org/repo/", true},
                              {"https://notflathub.org/repo", false},
                              {"https://flathub.org.example.net/", false}})
    EXPECT_EQ(isFlathub(url), flathub) << url;

  for (auto [release, version] : {std::pair{"5.15", std::array{5, 15, 0}},
                                  {"6.8.12+rpt-rpi-v8", {6, 8, 12}},
                                  {"weird", {0, 0, 0}}}) {
    auto v = kernelVersion(release);
    EXPECT_EQ((std::array{v.major, v.minor, v.patch}), version) << release;
  }
}

TEST(UpdateSourceReader, FlathubOriginIsTheStoreAndDesktopEntriesNameFeeds) {
  test::TempDir t;
  auto app = t.path() / "flatpak" / "app" / "org.x.Maps";
  t.write("flatpak/app/org.x.Maps/current/active/deploy", "flathub\0rest"s);
  t.write("flatpak/repo/config", "[remote \"flathub\"]\nurl=https://dl.flathub.org/repo/\n");
  EXPECT_TRUE(readUpdateSource(app, {}).fromStore);
  t.write("flatpak/repo/config", "[remote \"flathub\"]\nurl=https://example.org/repo/\n");
  EXPECT_FALSE(readUpdateSource(app, {}).fromStore);

  auto entry = t.write("a.desktop",
                       "[Desktop Action x]\nX-Appcast=https://b\n[Desktop Entry]\n"
                       "X-Appcast=https://a/cast.xml\n");
  auto image = readUpdateSource(t.path() / "Tool.AppImage", {entry.string()});
  EXPECT_TRUE(image.metadataRead);
  EXPECT_EQ(image.feed, "https://a/cast.xml");
}

}  // namespace
}  // namespace norvo::platform::parse
