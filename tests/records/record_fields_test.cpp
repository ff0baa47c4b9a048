// The field list decides optional and integer rules for every record, so its
// edge cases are tested once here rather than per record.
#include "core/records/record_fields.hpp"

#include <gtest/gtest.h>

#include <cstdint>
#include <optional>
#include <string>

#include "core/measure/hung_mark.hpp"
#include "core/records/json_codec.hpp"

namespace norvo {
namespace {

struct Sample {
  std::string name;
  uint64_t bytes = 0;
  int32_t pid = 0;
  std::optional<int64_t> count;
  std::optional<std::string> note;
  double share = 0;
  bool on = false;

  friend bool operator==(const Sample&, const Sample&) = default;
};

constexpr auto sampleFields = record_fields::list(
    record_fields::field("name", &Sample::name), record_fields::field("bytes", &Sample::bytes),
    record_fields::field("pid", &Sample::pid), record_fields::field("count", &Sample::count),
    record_fields::field("note", &Sample::note), record_fields::field("share", &Sample::share),
    record_fields::field("on", &Sample::on));

std::optional<Sample> decode(const std::string& text) {
  try {
    Sample s;
    sampleFields.read(nlohmann::json::parse(text), s);
    return s;
  } catch (const nlohmann::json::exception&) {
    return std::nullopt;
  }
}

TEST(RecordFields, AbsentOptionalsAreLeftOutAndReadBack) {
  Sample s{"x", 5, -3, std::nullopt, "hi", 1.5, true};
  nlohmann::json j;
  sampleFields.write(j, s);
  EXPECT_EQ(j.dump(), R"({"bytes":5,"name":"x","note":"hi","on":true,"pid":-3,"share":1.5})");
  EXPECT_EQ(decode(j.dump()), s);
}

TEST(RecordFields, DecodesOnlyWholeRecordsWithFittingIntegers) {
  const std::string base = R"("name":"x","pid":1,"share":2,"on":false)";
  const std::pair<std::string, bool> rows[] = {
      {"{" + base + R"(,"bytes":7})", true},
      {"{" + base + R"(,"bytes":7,"count":null})", true},  // null reads as absent
      {"{" + base + R"(,"bytes":7,"count":-9})", true},
      {"{" + base + R"(,"bytes":-5})", false},   // would wrap to 2^64 - 5
      {"{" + base + R"(,"bytes":3.7})", false},  // would truncate to 3
      {"{" + base + R"(,"bytes":7,"count":2.5})", false},
      {"{" + base + R"(,"bytes":"7"})", false},
      {"{" + base + "}", false},  // a required key is missing
      {R"({"name":"x","pid":2147483648,"share":2,"on":false,"bytes":1})", false},
      {R"([1,2])", false},
  };
  for (const auto& [text, decodes] : rows) EXPECT_EQ(decode(text).has_value(), decodes) << text;
}

using namespace std::chrono;
using NorvoStore::HungMark;

TEST(Iso8601, WholeSecondsInUtcOutZuluOffsetsAndFractionsIn) {
  Date base = sys_days{year{2026} / 12 / 5} + hours{17} + minutes{37} + seconds{50};
  EXPECT_EQ(formatIso8601(base + milliseconds{999}), "2026-12-05T17:37:50Z");
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
