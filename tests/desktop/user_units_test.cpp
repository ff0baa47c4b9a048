// The unit text: the program's path put in wherever the template names it,
// and paths systemd would read as something else refused.
#include "core/desktop/user_units.hpp"

#include <gtest/gtest.h>

namespace norvo {
namespace {

TEST(UserUnits, PutsThePathInOrRefusesIt) {
  std::vector<user_units::UnitFile> templates{
      {"a.service", "ExecStart=@ZEMNORVO@ watch\n# @ZEMNORVO@\n"}, {"b.service", "no marker"}};
  for (const auto& [binary, accepted] :
       std::vector<std::pair<std::string, bool>>{{"/opt/z/bin/zemnorvo", true},
                                                 {"/home/me/@ZEMNORVO@", true},
                                                 {"zemnorvo", false},
                                                 {"", false},
                                                 {"/home/my files/zemnorvo", false},
                                                 {"/home/me/100%/zemnorvo", false},
                                                 {"/a\\x20b/zemnorvo", false},
                                                 {"/a;rm/zemnorvo", false},
                                                 {"/a/$HOME/zemnorvo", false},
                                                 {"/a\nExecStartPre=/x/zemnorvo", false}}) {
    SCOPED_TRACE(binary);
    std::string error;
    auto units = user_units::instantiate(templates, binary, error);
    ASSERT_EQ(units.has_value(), accepted) << error;
    if (!units) {
      EXPECT_NE(error.find(binary), std::string::npos) << error;
      continue;
    }
    EXPECT_EQ((*units)[0].text, "ExecStart=" + binary + " watch\n# " + binary + "\n");
    EXPECT_EQ((*units)[1].text, "no marker");
  }
}

}  // namespace
}  // namespace norvo
