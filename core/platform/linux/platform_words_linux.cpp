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

}  // namespace norvo::platform
