#include <gtest/gtest.h>

#include <algorithm>
#include <set>

#include "core/store/cleanup_suggestion.hpp"
#include "core/store/quit_suggestion.hpp"
#include "core/store/scan_request.hpp"
#include "core/store/uuid.hpp"

namespace norvo {
namespace {

// That fresh records are pending is seen where agents file them (agent tools,
// cleanup commands); here, what makes their ids safe as file names.
TEST(SuggestionRecords, FreshRecordsHaveUniqueUpperCaseIdsAndAreDatedNow) {
  std::set<std::string> ids;
  const Date before = std::chrono::floor<std::chrono::seconds>(std::chrono::system_clock::now());
  for (int i = 0; i < 200; ++i) {
    QuitSuggestion s = QuitSuggestion::make("a", "b", {});
    CleanupSuggestion c = CleanupSuggestion::make("b", {});
    NorvoStore::ScanRequest r = NorvoStore::ScanRequest::make();
    for (const std::string& id : {s.id, c.id, r.id}) {
      ASSERT_TRUE(uuid::isCanonical(id)) << id;
      EXPECT_EQ(id.find_first_of("abcdef"), std::string::npos) << id;
      EXPECT_TRUE(ids.insert(id).second) << "repeated id " << id;
    }
    EXPECT_GE(std::min({s.created, c.created, r.created}), before);
  }
}

}  // namespace
}  // namespace norvo
