// Pure parsers for the files that describe an installed app on Linux: desktop
// entries (the freedesktop Desktop Entry format), AppStream metainfo and
// AppImage file names. They take text and never touch the file system.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace norvo::platform::parse {

// The keys of a desktop entry that the uninstaller needs, from its
// "[Desktop Entry]" group only (actions and other groups have their own Exec).
struct DesktopEntry {
  std::optional<std::string> name;  // "Name", the untranslated one
  std::optional<std::string> exec;  // "Exec"
  std::optional<std::string> type;  // "Type"
  std::optional<std::string> icon;  // "Icon": a theme icon's name or a file's path
  bool hidden = false;              // "NoDisplay" or "Hidden" is true: not an app the owner sees
};

std::optional<DesktopEntry> desktopEntry(std::string_view text);

// The program an "Exec" value starts: its first word with the Exec key's
// double-quote quoting undone, after an "env" launcher and its VAR=value words.
// Absent for an empty value.
std::optional<std::string> execProgram(std::string_view exec);

// The version of the newest release an AppStream metainfo file lists (the
// first <release> of <releases>, where the format puts the newest).
std::optional<std::string> metainfoVersion(std::string_view xml);

// An AppImage's name and version from its file name: "Obsidian-1.4.16.AppImage"
// gives ("Obsidian", "1.4.16"), "Krita-5.2.2-x86_64.appimage" ("Krita",
// "5.2.2"); the version starts at the first '-' or '_' followed by a digit,
// and a trailing architecture is dropped. Absent when the name does not end in
// ".AppImage" (any case) or nothing is left before it.
struct AppImageName {
  std::string name;
  std::optional<std::string> version;
};
std::optional<AppImageName> appImageName(std::string_view fileName);

}  // namespace norvo::platform::parse
