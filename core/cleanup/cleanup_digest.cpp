#include "core/cleanup/cleanup_digest.hpp"

#include "core/assess/compact.hpp"

namespace norvo::Compact {

nlohmann::json cleanupItem(const Cleanup::Item& item) {
  constexpr size_t kListed = 5;
  nlohmann::json list = nlohmann::json::array();
  for (size_t i = 0; i < item.paths.size() && i < kListed; ++i) list.push_back(item.paths[i]);
  if (item.paths.size() > kListed)
    list.push_back("… " + std::to_string(item.paths.size() - kListed) + " more");
  nlohmann::json j = {{"id", item.id},
                      {"title", item.title},
                      {"removal", std::string(Cleanup::rawValue(item.removal))},
                      {"after", item.after},
                      {"recommended", item.recommended},
                      {"paths", item.paths.size()},
                      {"size_gb", item.bytes ? gbValue(static_cast<double>(*item.bytes)) : nullptr},
                      {"path_list", list}};
  if (item.skipped) j["skipped"] = *item.skipped;
  return j;
}

}  // namespace norvo::Compact
