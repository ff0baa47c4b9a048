// Where the product keeps its files: the user's data folder (XDG_DATA_HOME, by
// default ~/.local/share) followed by "ZemraNorvo". The Linux counterpart of the
// per-user Application Support folder.
#pragma once

#include <filesystem>
#include <optional>

namespace norvo::NorvoStore {

// Computed once per process on first use, thread-safely; not created until a
// write needs it. Tests point it elsewhere by setting XDG_DATA_HOME before the
// first use.
const std::filesystem::path& directory();

// The rule behind `directory()`, for an explicit environment: XDG_DATA_HOME when
// it is an absolute path (XDG base directories must be absolute; a relative value is invalid), else
// HOME/.local/share, else the password database's home directory.
std::filesystem::path directoryFor(const char* xdgDataHome, const char* home);

// The owner's configuration folder: XDG_CONFIG_HOME (absolute), else
// HOME/.config, followed by "ZemraNorvo". Read afresh on every call.
std::filesystem::path configDirectory();
std::filesystem::path configDirectoryFor(const char* xdgConfigHome, const char* home);

}  // namespace norvo::NorvoStore
