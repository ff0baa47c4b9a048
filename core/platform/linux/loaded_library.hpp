// Libraries that only a few commands need (HTTPS, signatures, archives, the
// Trash) are opened when first used rather than linked, so that the sampling
// loop, which needs none of them, never maps their pages.
#pragma once

#include <optional>
#include <span>
#include <string>

namespace norvo::platform {

// One function the caller wants from a library, and the typed pointer to fill.
struct LibrarySymbol {
  template <typename F>
  LibrarySymbol(const char* symbolName, F** target)
      : name(symbolName),
        slot(target),
        assign([](void* to, void* found) { *static_cast<F**>(to) = reinterpret_cast<F*>(found); }) {
  }

  const char* name;
  void* slot;
  void (*assign)(void* slot, void* found);
};

// A table row naming the symbol once: LIBRARY_SYMBOL(lib, archive_read_new)
// fills lib.archive_read_new with the library's archive_read_new.
#define LIBRARY_SYMBOL(lib, symbol) ::norvo::platform::LibrarySymbol(#symbol, &(lib).symbol)

// Opens `soname` (RTLD_NOW | RTLD_LOCAL) and fills every symbol's pointer.
// Returns why it could not, naming the library and what the loader said;
// absent on success. On failure no pointer is filled and the library is
// closed again; on success it stays open for the process's life, as a linked
// library would. Callers load once, behind a function-local static.
std::optional<std::string> loadLibrary(const char* soname, std::span<const LibrarySymbol> symbols);

}  // namespace norvo::platform
