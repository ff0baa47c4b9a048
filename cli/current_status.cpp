#include "cli/current_status.hpp"

#include "core/sampling/sampler.hpp"
#include "core/store/norvo_store.hpp"

namespace norvo::cli {

NorvoSnapshot currentSnapshot(double maxAge, double seconds) {
  if (auto cached = NorvoStore::cachedStatus(maxAge)) return *cached;
  return Sampler::measure(seconds, NorvoConfig::load());
}

}  // namespace norvo::cli
