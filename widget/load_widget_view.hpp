// What the desktop widget shows, as plain values: for a family (small, medium,
// large) and an optional widget record, the rows from top to bottom with their
// texts, text styles, colours, bar fractions and symbols. No drawing toolkit
// and no operating system here; the renderers only place and paint these
// values, and the rules of what appears live (and are tested) in this file.
#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "core/platform/owner_language.hpp"
#include "core/store/widget_snapshot.hpp"

namespace norvo {

// Named system colours; each appearance (light, dark) gives them their shade.
enum class WidgetColor { primary, secondary, tertiary, accent, green, yellow, orange, red, purple };

// Text styles; the renderer maps each to a size in points.
enum class WidgetFont { title, headline, callout, caption, caption2, processorFigure };

// The widget's own vector icons, named after the symbols they stand for.
enum class WidgetSymbol {
  gauge,           // "gauge.with.dots.needle.33percent"
  heartFill,       // "heart.fill"
  internalDrive,   // "internaldrive"
  externalDrive,   // "externaldrive"
  wifi,            // "wifi"
  lockShield,      // "lock.shield"
  cableConnector,  // "cable.connector"
};

struct WidgetText {
  std::string text;
  WidgetFont font = WidgetFont::caption2;
  bool semibold = false;
  bool monospacedDigits = false;
  WidgetColor color = WidgetColor::primary;
  // A one-line text may shrink to this share of its size before it is cut.
  double minimumScale = 1;

  friend bool operator==(const WidgetText&, const WidgetText&) = default;
};

struct WidgetBar {
  double fraction = 0;  // already clamped to 0…1
  WidgetColor tint = WidgetColor::accent;

  friend bool operator==(const WidgetBar&, const WidgetBar&) = default;
};

struct LoadWidgetView {
  enum class Family { small, medium, large };

  struct Placeholder {
    WidgetSymbol symbol = WidgetSymbol::gauge;
    WidgetFont symbolSize = WidgetFont::title;
    WidgetColor symbolColor = WidgetColor::secondary;
    WidgetText message;
  };

  // The heart and score shown for the health score.
  struct HealthMark {
    WidgetColor color = WidgetColor::green;
    WidgetText score;
  };

  struct Header {
    WidgetColor levelColor = WidgetColor::green;  // the 9 × 9 circle
    WidgetText title;
    std::optional<HealthMark> health;  // full header only, when the record has a score
    bool compact = false;
  };

  // Small family: the big processor percentage, with the health label.
  struct ProcessorFigure {
    WidgetText number;
    WidgetText percentSign;
    std::optional<HealthMark> health;
  };

  struct Meter {
    WidgetText label;
    WidgetText value;
    WidgetBar bar;
  };

  struct DiskRow {
    WidgetSymbol symbol = WidgetSymbol::internalDrive;
    WidgetText name;
    WidgetBar bar;
    WidgetText free;
  };

  // Medium and large: meters on the left, disks on the right.
  struct Columns {
    std::vector<Meter> meters;
    std::vector<DiskRow> disks;
  };

  // Large: the agents' job allowance and the record's time.
  struct JobsLine {
    WidgetText jobs;
    WidgetText time;
  };

  // Medium: the record's time at the trailing edge.
  struct TimeLine {
    WidgetText time;
  };

  struct NetworkRow {
    WidgetSymbol symbol = WidgetSymbol::cableConnector;
    WidgetText name;
    std::optional<WidgetText> speed;
    WidgetText rates;
  };

  struct Divider {};

  struct Heading {
    WidgetText text;
  };

  struct AppRow {
    WidgetText name;
    std::optional<WidgetText> badge;  // "AI"
    WidgetText value;
  };

  using Row = std::variant<Header, ProcessorFigure, Meter, DiskRow, Columns, JobsLine, TimeLine,
                           NetworkRow, Divider, Heading, AppRow>;

  // Exactly one of placeholder and rows is filled.
  struct Body {
    std::optional<Placeholder> placeholder;
    double spacing = 6;  // between rows
    std::vector<Row> rows;
  };

  using Language = platform::Language;

  std::optional<WidgetSnapshot> snapshot;
  Family family = Family::small;
  // Russian unless the owner's locale asks for English (platform::ownerLanguage).
  Language language = Language::russian;

  // The rows for this family; times shown in the given offset from UTC.
  Body body(std::chrono::seconds utcOffset) const;
  // The same in the machine's local time zone.
  Body body() const;

  // ---- The pieces, for the renderers and the tests ----

  static constexpr Language ru = Language::russian;

  static Placeholder placeholder(Language language = ru);
  static WidgetColor levelColor(LoadLevel level);
  static std::string levelTitle(LoadLevel level, Language language = ru);
  // Below 50 red, 50 to 79 orange, 80 and above green.
  static WidgetColor headerHealthColor(int64_t score);
  static Header header(const WidgetSnapshot& snapshot, bool compact, Language language = ru);
  static ProcessorFigure processorFigure(const WidgetSnapshot& snapshot);
  // Clamped to 0…1 with NaN as 0; orange when the unclamped fraction is above 0.85.
  static WidgetBar meterBar(double fraction);
  static Meter processorMeter(double cpu, Language language = ru);
  static Meter memoryMeter(uint64_t used, uint64_t total, Language language = ru);
  static Meter temperatureMeter(double celsius, Language language = ru);
  static DiskRow diskRow(const WidgetSnapshot::Disk& disk, Language language = ru);
  static NetworkRow networkRow(const NetworkConnection& connection);
  static AppRow appRow(const WidgetSnapshot::App& app, Language language = ru);
};

std::string_view rawValue(LoadWidgetView::Family family);
std::optional<LoadWidgetView::Family> widgetFamilyFromRaw(std::string_view raw);

}  // namespace norvo
