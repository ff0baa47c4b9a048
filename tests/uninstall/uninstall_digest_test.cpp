// The agent digest's forms of installed apps and leftovers.
#include "core/uninstall/uninstall_digest.hpp"

#include <gtest/gtest.h>

namespace norvo::Compact {
namespace {

TEST(UninstallDigest, UnknownSizesAndDates) {
  Uninstall::App app{"Example", "/h/Applications/Example.AppImage"};
  EXPECT_EQ(installedApp(app),
            nlohmann::json::parse(R"({"name":"Example","path":"/h/Applications/Example.AppImage",
      "running":false,"size_gb":null,"last_used":null})"));
  app.bundleID = "org.example.App";
  app.version = "1.2";
  app.bytes = 3 * 1073741824LL + 107374183LL;
  app.lastUsed = parseIso8601("2026-01-02T03:04:05Z");
  app.running = true;
  EXPECT_EQ(installedApp(app),
            nlohmann::json::parse(R"({"name":"Example","path":"/h/Applications/Example.AppImage",
      "running":true,"size_gb":3.1,"last_used":"2026-01-02T03:04:05Z","bundle_id":"org.example.App","version":"1.2"})"));

  Uninstall::Leftover sandbox{"/h/.var/app/org.example.App", ".var/app", std::nullopt, false};
  EXPECT_EQ(leftover(sandbox),
            nlohmann::json::parse(R"({"path":"/h/.var/app/org.example.App","folder":".var/app",
      "preselected":true,"size_mb":"sandbox data, not measured"})"));
  Uninstall::Leftover byName{"/h/.config/Example Editor", ".config", 1572864, true};
  EXPECT_EQ(leftover(byName)["size_mb"], 1.5);
  EXPECT_EQ(leftover(byName)["preselected"], false);
}

}  // namespace
}  // namespace norvo::Compact
