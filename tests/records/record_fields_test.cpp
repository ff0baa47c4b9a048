// The field list decides optional and integer rules for every record, so its
// edge cases are tested once here rather than per record.
#include "core/records/record_fields.hpp"

#include <gtest/gtest.h>

#include <cstdint>
#include <optional>
#include <string>

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
  struct Row {
    std::string text;
    bool decodes;
  };
  const Row rows[] = {
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
  for (const auto& row : rows) EXPECT_EQ(decode(row.text).has_value(), row.decodes) << row.text;
}

}  // namespace
}  // namespace norvo
