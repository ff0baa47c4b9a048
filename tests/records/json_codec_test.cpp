#include "core/records/json_codec.hpp"

#include <gtest/gtest.h>

#include "core/measure/hung_mark.hpp"

namespace norvo {
namespace {

using namespace std::chrono;
using NorvoStore::HungMark;

TEST(Iso8601, WholeSecondsInUtcOutZuluOffsetsAndFractionsIn) {
  Date base = sys_days{year{2026} / 12 / 5} + hours{17} + minutes{37} + seconds{50};
  EXPECT_EQ(formatIso8601(base + milliseconds{999}), "2026-12-05T17:37:50Z");
  EXPECT_EQ(formatIso8601(Date{}), "1970-01-01T00:00:00Z");
  EXPECT_EQ(parseIso8601("2026-12-05T17:37:50Z"), base);
  EXPECT_EQ(parseIso8601("2026-12-05T19:37:50+02:00"), base);
  EXPECT_EQ(parseIso8601("2026-12-05T16:37:50-01:00"), base);
  EXPECT_EQ(parseIso8601("2026-12-05T17:37:50.250Z"), base + milliseconds{250});
  for (const char* bad :
       {"", "2026-12-05", "2026-12-05T17:37:50", "2026-13-05T17:37:50Z", "2026-02-30T00:00:00Z",
        "2026-12-05T24:00:00Z", "2026-12-05T17:37:50Zjunk", "2026-12-05T17:37:50.Z"})
    EXPECT_FALSE(parseIso8601(bad).has_value()) << bad;
}

TEST(JsonCodec, EncodesSortedCompactAndDecodesOnlyTheWholeRecord) {
  nlohmann::json j = {{"zeta", 1}, {"alpha", HungMark{"k", sys_days{year{2026} / 1 / 2}}}};
  EXPECT_EQ(json_codec::encode(j),
            R"({"alpha":{"name":"k","since":"2026-01-02T00:00:00Z"},"zeta":1})");
  EXPECT_NO_THROW(json_codec::encode(nlohmann::json(std::string("bad \xff byte"))));

  EXPECT_FALSE(json_codec::decode("{\"name\":").has_value());
  // Missing keys and wrong types are the field list's, tested with it.
  for (const char* bad : {"[]", R"({"name":"x","since":"yesterday"})"})
    EXPECT_FALSE(json_codec::decodeAs<HungMark>(bad).has_value()) << bad;
  EXPECT_EQ(
      json_codec::decodeAs<HungMark>(R"({"name":"x","since":"2026-01-02T03:00:00Z","extra":true})"),
      (HungMark{"x", sys_days{year{2026} / 1 / 2} + hours{3}}));
}

TEST(JsonCodec, OptionalFieldsAreLeftOutWhenAbsentAndNullReadsAsAbsent) {
  nlohmann::json j = nlohmann::json::object();
  json_codec::putOptional(j, "present", std::optional<int>(3));
  json_codec::putOptional(j, "absent", std::optional<int>());
  EXPECT_EQ(json_codec::encode(j), R"({"present":3})");
  std::optional<int> out = 7;
  json_codec::getOptional(nlohmann::json::parse(R"({"a":null})"), "a", out);
  EXPECT_FALSE(out.has_value());
  EXPECT_THROW(json_codec::getOptional(nlohmann::json::parse(R"({"a":"text"})"), "a", out),
               nlohmann::json::exception);
}

}  // namespace
}  // namespace norvo
