#include <pwd.h>
#include <unistd.h>

#include <cstdlib>
#include <string_view>

#include "core/platform/agent_places.hpp"
#include "core/platform/roots.hpp"

namespace norvo::platform {

namespace fs = std::filesystem;

namespace {

// An XDG variable counts only when absolute (the XDG base directory rules).
fs::path xdg(const char* name, const fs::path& fallback) {
  const char* value = std::getenv(name);
  return value && value[0] == '/' ? fs::path(value) : fallback;
}

std::string shellOfUser() {
  passwd entry{};
  passwd* found = nullptr;
  std::vector<char> buffer(16384);
  if (::getpwuid_r(::getuid(), &entry, buffer.data(), buffer.size(), &found) != 0 || !found)
    return "/bin/sh";
  // An empty shell field means /bin/sh (passwd(5)).
  std::string shell = found->pw_shell ? found->pw_shell : "";
  return shell.empty() ? "/bin/sh" : shell;
}

}  // namespace

AgentPlaces AgentPlaces::forUser() {
  AgentPlaces p;
  p.home = Roots::system().home;
  const fs::path& home = p.home;
  // The product's own list first; then where Homebrew on Linux and the
  // distribution's Node.js put global npm programs.
  p.claudeProgramPaths = {home / ".local/bin/claude",
                          home / ".claude/local/claude",
                          home / ".npm-global/bin/claude",
                          "/opt/homebrew/bin/claude",
                          "/usr/local/bin/claude",
                          "/home/linuxbrew/.linuxbrew/bin/claude",
                          "/usr/bin/claude"};
  p.loginShell = shellOfUser();

  fs::path configHome = xdg("XDG_CONFIG_HOME", home / ".config");
  p.claudeDesktopConfig = configHome / "Claude" / "claude_desktop_config.json";
  // Claude Desktop has no official Linux package; the community builds ship
  // a desktop entry "claude-desktop.desktop" and install under
  // /usr/lib/claude-desktop, and every build makes its configuration folder
  // at first start (AppImages included).
  p.claudeDesktopSigns = {configHome / "Claude", "/usr/lib/claude-desktop"};
  std::vector<fs::path> dataDirs{xdg("XDG_DATA_HOME", home / ".local/share")};
  const char* dirs = std::getenv("XDG_DATA_DIRS");
  std::string_view list = dirs && dirs[0] ? dirs : "/usr/local/share:/usr/share";
  while (!list.empty()) {
    auto colon = list.find(':');
    auto dir = list.substr(0, colon);
    if (!dir.empty() && dir[0] == '/') dataDirs.emplace_back(std::string(dir));
    list = colon == std::string_view::npos ? std::string_view() : list.substr(colon + 1);
  }
  for (const auto& dir : dataDirs)
    p.claudeDesktopSigns.push_back(dir / "applications" / "claude-desktop.desktop");

  p.codexConfig = xdg("CODEX_HOME", home / ".codex") / "config.toml";
  p.geminiSettings = home / ".gemini" / "settings.json";
  return p;
}

}  // namespace norvo::platform
