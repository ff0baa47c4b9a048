#include "core/platform/linux/update_source_parsers.hpp"

#include <gtest/gtest.h>

#include <array>

#include "core/platform/update_source.hpp"
#include "test_support.hpp"

namespace norvo::platform::parse {
namespace {

using namespace std::string_literals;

TEST(UpdateSourceParsers, FlatpakOriginAndRemote) {
  EXPECT_EQ(flatpakOrigin("flathub\0\x01\x02"s), "flathub");
  EXPECT_FALSE(flatpakOrigin("\0flathub"s));
  EXPECT_FALSE(flatpakOrigin("flat\x01hub\0"s));
  EXPECT_FALSE(flatpakOrigin("no end"));

  const char* config = R"([core]
repo_version=1
[remote "flathub"]
url=https://dl.flathub.org/repo/
[remote "mine"]
url = https://example.org/repo/
)";
  EXPECT_EQ(remoteUrl(config, "flathub"), "https://dl.flathub.org/repo/");
  EXPECT_EQ(remoteUrl(config, "mine"), "https://example.org/repo/");
  EXPECT_FALSE(remoteUrl(config, "core"));
  struct Case {
    const char* url;
    bool flathub;
  };
  for (auto c : {Case{"https://dl.flathub.org/repo/", true}, Case{"https://flathub.org", true},
                 Case{"https://notflathub.org/repo", false},
                 Case{"https://flathub.org.example.net/", false}, Case{"flathub.org", false}})
    EXPECT_EQ(isFlathub(c.url), c.flathub) << c.url;
}

TEST(UpdateSourceParsers, DesktopAppcastAndKernelVersion) {
  EXPECT_EQ(desktopAppcast("[Desktop Entry]\nName=A\nX-Appcast=https://a/cast.xml\n"),
            "https://a/cast.xml");
  EXPECT_FALSE(desktopAppcast("[Desktop Action new]\nX-Appcast=https://a/cast.xml\n"));
  EXPECT_FALSE(desktopAppcast("[Desktop Entry]\nX-Appcast=\n"));

  struct Case {
    const char* release;
    int major, minor, patch;
  };
  for (auto c : {Case{"6.1.0-18-amd64", 6, 1, 0}, Case{"5.15", 5, 15, 0},
                 Case{"6.8.12+rpt-rpi-v8", 6, 8, 12}, Case{"weird", 0, 0, 0}, Case{"", 0, 0, 0}}) {
    auto v = kernelVersion(c.release);
    EXPECT_EQ((std::array{v.major, v.minor, v.patch}), (std::array{c.major, c.minor, c.patch}))
        << c.release;
  }
}

TEST(UpdateSourceReader, FlathubOriginMakesAStoreApp) {
  test::TempDir t;
  auto app = t.path() / "flatpak" / "app" / "org.x.Maps";
  t.write("flatpak/app/org.x.Maps/current/active/deploy", "flathub\0rest"s);
  t.write("flatpak/repo/config", "[remote \"flathub\"]\nurl=https://dl.flathub.org/repo/\n");
  auto source = readUpdateSource(app, {});
  EXPECT_TRUE(source.fromStore);
  t.write("flatpak/repo/config", "[remote \"flathub\"]\nurl=https://example.org/repo/\n");
  EXPECT_FALSE(readUpdateSource(app, {}).fromStore);

  auto entry = t.write("entry.desktop", "[Desktop Entry]\nX-Appcast=https://a/cast.xml\n");
  auto image = readUpdateSource(t.path() / "Tool.AppImage", {entry.string()});
  EXPECT_TRUE(image.metadataRead);
  EXPECT_EQ(image.feed, "https://a/cast.xml");
}

}  // namespace
}  // namespace norvo::platform::parse
