// Linux runs on laptops, desktops, servers and boards alike, so no brand name
// fits: the sentences say "Computer" / "Компьютер". The emulator that plays
// the iOS Simulator's part beside a developer's builds is Android's; it runs
// as qemu processes from the SDK's "emulator" folder and is stopped with
// `adb emu kill`.
#include <string>

#include "core/platform/platform_words.hpp"

namespace norvo::platform {

const MachineNoun& machineNoun() {
  static const MachineNoun noun{"Computer", "computer", "Компьютер", "компьютера"};
  return noun;
}

std::string_view emulatorName() { return "Android Emulator"; }

std::string emulatorHungAdvice() {
  return "The Android Emulator looks hung (its processes are stuck in the kernel), which slows "
         "the whole " +
         std::string(machineNoun().englishInText) +
         ": do not boot emulators or run UI tests; ask the owner to close the emulator or run "
         "`adb emu kill` (if that hangs too, a restart fixes it).";
}

bool isEmulatorProcessName(std::string_view name) {
  // The SDK's emulator is a launcher that starts its own qemu build
  // ("qemu-system-x86_64", "-headless" without a window); the name is all
  // the hung list keeps, so a hung qemu counts as the emulator's.
  return name == "emulator" || name.starts_with("qemu-system-");
}

std::optional<std::string> emulatorFolder(std::string_view path) {
  // <sdk>/emulator/emulator, and <sdk>/emulator/qemu/<host>/qemu-system-*.
  for (std::string_view inside : {"/emulator/qemu/", "/emulator/emulator"}) {
    auto at = path.find(inside);
    if (at == std::string_view::npos) continue;
    if (inside == "/emulator/emulator" && at + inside.size() != path.size()) continue;
    return std::string(path.substr(0, at + std::string_view("/emulator").size()));
  }
  return std::nullopt;
}

// What no scan counted is the system's files (its package manager's), swap,
// other users' homes and the protected folders; snapshots here are the file
// system's own (Btrfs, ZFS), not a backup tool's. Protected folders stay shut
// until the owner runs `zemnorvo disk allow`, and a folder the account may
// not read needs read permission, not a privacy switch.
const DiskWords& diskWords() {
  static const DiskWords words{
      "Linux, system and not counted",
      "Linux, swap, snapshots, other users and the folders not counted",
      "Linux, своп, снимки, другие пользователи и непосчитанные папки",
      "The package manager manages the system's part; file system snapshots (Btrfs, ZFS) are "
      "removed with their own tools. Folders not counted (Desktop, Documents, app data…) are in "
      "here too: allow them to see their sizes.",
      "Системной частью ведает менеджер пакетов; снимки файловой системы (Btrfs, ZFS) удаляются "
      "их собственными средствами. Сюда же входят непосчитанные папки («Рабочий стол», "
      "«Документы», данные программ…): разрешите их, чтобы увидеть размеры.",
      "Empty the Trash in the file manager.",
      "Очистите Корзину в файловом менеджере.",
      "Part of the system",
      "Часть системы",
      "the owner allows it first",
      "needs read permission",
      // No Linux desktop has a storage pane or a link scheme for its settings;
      // what opens them is a desktop entry, started with `gtk-launch ID`.
      "org.gnome.baobab.desktop",
      "gnome-online-accounts-panel.desktop",
  };
  return words;
}

}  // namespace norvo::platform
