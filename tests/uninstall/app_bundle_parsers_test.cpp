// The files that describe an installed app, parsed from literal text.
#include "core/platform/linux/app_bundle_parsers.hpp"

#include <gtest/gtest.h>

namespace norvo::platform::parse {
namespace {

TEST(AppBundleParsers, DesktopEntryReadsOnlyItsOwnGroup) {
  auto entry = desktopEntry(
      "# comment\n[Desktop Entry]\nType=Application\nName=Example Editor\nName[de]=Beispiel\n"
      "Exec=example %U\n[Desktop Action new]\nExec=example --new\nName=New\n");
  ASSERT_TRUE(entry);
  EXPECT_EQ(std::tuple(entry->name, entry->exec, entry->type),
            std::tuple("Example Editor", "example %U", "Application"));
  EXPECT_FALSE(desktopEntry("[Desktop Action new]\nExec=x\n"));
  EXPECT_FALSE(desktopEntry(""));
}

TEST(AppBundleParsers, ExecProgram) {
  for (const auto& [exec, program] :
       std::vector<std::pair<std::string, std::optional<std::string>>>{
           {"\"/home/u/My Apps/Example.AppImage\" --no-sandbox %U",
            "/home/u/My Apps/Example.AppImage"},
           {"\"/home/u/a \\\"b\\\"/run\"", "/home/u/a \"b\"/run"},
           {"env APPIMAGELAUNCHER_DISABLE=1 /home/u/Apps/x.AppImage", "/home/u/Apps/x.AppImage"},
           {"  gimp-2.10 %U", "gimp-2.10"},
           {"env A=1", std::nullopt},
           {"", std::nullopt}})
    EXPECT_EQ(execProgram(exec), program) << exec;
}

TEST(AppBundleParsers, AppImageNames) {
  using Name = std::optional<std::string>;
  for (const auto& [file, name, version] : std::vector<std::tuple<std::string, Name, Name>>{
           {"Obsidian-1.4.16.AppImage", "Obsidian", "1.4.16"},
           {"krita-5.2.2-x86_64.appimage", "krita", "5.2.2"},
           {"Some_App_2.0_x86_64.AppImage", "Some_App", "2.0"},
           {"Tool.AppImage", "Tool", std::nullopt},
           {"3D-Viewer.AppImage", "3D-Viewer", std::nullopt},
           {".AppImage", std::nullopt, std::nullopt},
           {"tool.tar.gz", std::nullopt, std::nullopt}}) {
    auto parsed = appImageName(file);
    EXPECT_EQ(parsed ? std::optional(parsed->name) : std::nullopt, name) << file;
    EXPECT_EQ(parsed ? parsed->version : std::nullopt, version) << file;
  }
}

TEST(AppBundleParsers, MetainfoVersionIsTheNewestRelease) {
  EXPECT_EQ(metainfoVersion("<?xml version=\"1.0\"?><component type=\"desktop-application\">"
                            "<releases><release version=\"2.1\" date=\"2024-05-01\"/>"
                            "<release version=\"2.0\"/></releases></component>"),
            "2.1");
  EXPECT_FALSE(metainfoVersion("<component><releases/></component>"));
  EXPECT_FALSE(metainfoVersion("not xml"));
}

}  // namespace
}  // namespace norvo::platform::parse
