#include "core/platform/linux/loaded_library.hpp"

#include <dlfcn.h>

#include <vector>

namespace norvo::platform {

std::optional<std::string> loadLibrary(const char* soname, std::span<const LibrarySymbol> symbols) {
  auto failure = [soname](const char* what) {
    const char* why = ::dlerror();
    return "cannot load " + std::string(soname) + ": " + (why ? why : what);
  };
  ::dlerror();
  void* handle = ::dlopen(soname, RTLD_NOW | RTLD_LOCAL);
  if (!handle) return failure("not found");
  std::vector<void*> found;
  for (const auto& symbol : symbols) {
    ::dlerror();
    found.push_back(::dlsym(handle, symbol.name));
    if (!found.back()) {
      auto why = failure("a symbol is missing");
      ::dlclose(handle);
      return why;
    }
  }
  for (size_t i = 0; i < symbols.size(); ++i) symbols[i].assign(symbols[i].slot, found[i]);
  return std::nullopt;
}

}  // namespace norvo::platform
