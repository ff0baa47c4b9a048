// The unit text: the program's path put in wherever the template names it,
// and paths systemd would read as something else refused.
#include "core/desktop/user_units.hpp"

#include <gtest/gtest.h>

namespace norvo {
namespace {

TEST(UserUnits, PutsThePathInOrRefusesIt) {
  std::vector<user_units::UnitFile> templates{
      {"a.service", "ExecStart=@ZEMNORVO@ watch\n# @ZEMNORVO@\n"}, {"b.service", "no marker"}};
  struct Case {
    std::string binary;
    bool accepted;
  };
  const Case cases[] = {{"/opt/z/bin/zemnorvo", true},
                        {"/home/me/@ZEMNORVO@", true},
                        {"zemnorvo", false},
                        {"", false},
                        {"/home/my files/zemnorvo", false},
                        {"/home/me/100%/zemnorvo", false},
                        {"/a\\x20b/zemnorvo", false},
                        {"/a;rm/zemnorvo", false},
                        {"/a/$HOME/zemnorvo", false},
                        {"/a\nExecStartPre=/x/zemnorvo", false}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.binary);
    std::string error;
    auto units = user_units::instantiate(templates, c.binary, error);
    ASSERT_EQ(units.has_value(), c.accepted) << error;
    if (!units) {
      EXPECT_NE(error.find(c.binary), std::string::npos) << error;
      continue;
    }
    EXPECT_EQ((*units)[0].text, "ExecStart=" + c.binary + " watch\n# " + c.binary + "\n");
    EXPECT_EQ((*units)[1].text, "no marker");
  }
}

}  // namespace
}  // namespace norvo
