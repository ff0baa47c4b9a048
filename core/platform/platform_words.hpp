// The words this platform's sentences use where one system differs from
// another: the noun for the machine and the device emulator developers run
// beside their builds. The sentences themselves are shared and fixed; only
// these words change, and each platform chooses them once, here.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace norvo::platform {

// The machine in both languages. Every Russian sentence that names it agrees
// with a masculine noun ("… занят", "… перегружен"), which both "Мак" and
// "Компьютер" are.
struct MachineNoun {
  std::string_view english;          // starts a sentence: "Computer load OK"
  std::string_view englishInText;    // inside one: "slows the whole computer"
  std::string_view russian;          // the subject: "Компьютер занят"
  std::string_view russianGenitive;  // "Нагрузка компьютера"
};

const MachineNoun& machineNoun();

// The device emulator whose processes hang in the kernel and slow the whole
// machine, as the advice to agents names it.
std::string_view emulatorName();

// The advice sentence for agents when the emulator looks hung: what not to
// start and how the owner stops it.
std::string emulatorHungAdvice();

// Whether a process of this name belongs to the emulator (names are all the
// hung list keeps).
bool isEmulatorProcessName(std::string_view name);

// The folder that stands for the emulator as one app, for a process running
// from it; absent for any other program.
std::optional<std::string> emulatorFolder(std::string_view path);

// The disk report's words that name the system or its tools: the node for
// what no scan counted and its advice, where the Trash is emptied, what an
// app that ships with the product is, why a folder was not counted, and what
// opens the system's storage and online-account settings. The rest of the
// report's sentences are shared.
struct DiskWords {
  const char* systemNode;
  const char* remainderWhat;
  const char* remainderWhatRu;
  const char* remainderHow;
  const char* remainderHowRu;
  const char* trashHow;
  const char* trashHowRu;
  const char* systemPart;
  const char* systemPartRu;
  const char* ownerFirst;       // a protected folder the owner has not opened to scans
  const char* noAccess;         // a folder this account may not read
  const char* storageSettings;  // what a "settings" action opens for disk space
  const char* accountSettings;  // and for the cloud account
};

const DiskWords& diskWords();

}  // namespace norvo::platform
