#include "cli/cleanup_tools.hpp"

#include <algorithm>
#include <set>

#include "core/cleanup/cleanup.hpp"
#include "core/cleanup/cleanup_digest.hpp"
#include "core/store/norvo_store.hpp"

namespace norvo::cli {

namespace {

using mcp::Arguments;
using mcp::Param;
using mcp::ParamType;
using mcp::Tool;
using mcp::ToolContext;
using mcp::ToolError;
using mcp::ToolResult;

std::vector<Cleanup::Item> currentItems(double seconds) {
  auto context = Cleanup::Context::forUser();
  return Cleanup::preview(NorvoConfig::load(), seconds, NorvoStore::scanUserFolders(context.store),
                          context);
}

ToolResult cleanupPreview(const Arguments& args, ToolContext&) {
  nlohmann::json list = nlohmann::json::array();
  for (const auto& item : currentItems(static_cast<double>(args.integer("measure_seconds", 10))))
    list.push_back(Compact::cleanupItem(item));
  return ToolResult::structured(
      {{"items", list},
       {"note",
        "What the owner's Free up space would remove now; size_gb is null where it was not "
        "measured in time. You cannot remove anything yourself: call suggest_cleanup with the "
        "ids and a reason."}});
}

ToolResult suggestCleanup(const Arguments& args, ToolContext&) {
  auto ids = args.strings("item_ids");
  // Sizes do not matter here, only which items exist now.
  std::set<std::string> known;
  for (const auto& item : currentItems(0)) known.insert(item.id);
  nlohmann::json unknown = nlohmann::json::array();
  for (const auto& id : ids)
    if (!known.count(id)) unknown.push_back(id);
  auto suggestion = CleanupSuggestion::make(*args.string("reason"), ids);
  if (auto filed = NorvoStore::addCleanup(suggestion); !filed)
    throw ToolError("The suggestion was not filed: " + filed.error +
                    ". The owner cannot see it; tell them the store cannot be written.");
  std::string note =
      "Filed for the owner; nothing was removed. Call suggestion_status with this id "
      "later to read the answer: cleaned lists the ids cleaned, freedBytes the "
      "space that came free.";
  if (!unknown.empty())
    note +=
        " The ids in unknown_ids are not in the cleanup preview now and will be skipped "
        "unless they appear by then; call cleanup_preview to see the items.";
  return ToolResult::structured({{"id", suggestion.id},
                                 {"status", suggestion.status},
                                 {"item_ids", ids},
                                 {"unknown_ids", unknown},
                                 {"note", note}});
}

}  // namespace

void registerCleanupTools(mcp::ToolRegistry& registry) {
  registry.add(Tool{
      "cleanup_preview",
      "What Free up space would remove",
      "The owner's cleanup catalogue as it stands: caches, build folders of idle projects, old "
      "logs, temporary files, installers and old versions that exist now, each with its id, "
      "size, how it goes and what happens after. Read-only.",
      {Param{"measure_seconds", ParamType::Integer, "How long to measure sizes (default 10)", false,
             1, 60}},
      cleanupPreview});
  Tool suggest{"suggest_cleanup",
               "Propose cleaning items of Free up space",
               "Files a suggestion that the owner clean the items with these ids from "
               "cleanup_preview; the owner answers it. Nothing is removed by this call.",
               {Param{"item_ids", ParamType::StringList, "Item ids from cleanup_preview", true,
                      std::nullopt, std::nullopt, 100, 30},
                Param{"reason", ParamType::String, "Why, shown to the owner", true, std::nullopt,
                      std::nullopt, 500}},
               suggestCleanup};
  suggest.readOnly = false;
  registry.add(std::move(suggest));
}

}  // namespace norvo::cli
