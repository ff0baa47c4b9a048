#include "widget/load_widget_view.hpp"

#include <algorithm>
#include <cmath>

#include "core/assess/text_format.hpp"
#include "widget/byte_count_format.hpp"
#include "widget/widget_texts.hpp"

namespace norvo {

namespace {

using View = LoadWidgetView;

// The shared display formats: a non-finite figure shows as 0, never "nan".
using text_format::oneDecimal;
using text_format::rounded;
using text_format::truncated;

WidgetText caption2(std::string text, WidgetColor color = WidgetColor::primary,
                    bool digits = false) {
  return {std::move(text), WidgetFont::caption2, false, digits, color};
}

std::string bytesText(uint64_t bytes, platform::Language language) {
  return byte_count::format(bytes, language);
}

}  // namespace

std::string_view rawValue(View::Family family) {
  switch (family) {
    case View::Family::small: return "small";
    case View::Family::medium: return "medium";
    case View::Family::large: return "large";
  }
  return "large";
}

std::optional<View::Family> widgetFamilyFromRaw(std::string_view raw) {
  for (auto f : {View::Family::small, View::Family::medium, View::Family::large})
    if (rawValue(f) == raw) return f;
  return std::nullopt;
}

View::Placeholder View::placeholder(Language language) {
  Placeholder p;
  p.message = {widgetTexts(language).openApp, WidgetFont::caption, false, false,
               WidgetColor::secondary};
  return p;
}

WidgetColor View::levelColor(LoadLevel level) {
  switch (level) {
    case LoadLevel::ok: return WidgetColor::green;
    case LoadLevel::busy: return WidgetColor::yellow;
    case LoadLevel::overloaded: return WidgetColor::orange;
    case LoadLevel::critical: return WidgetColor::red;
  }
  return WidgetColor::red;
}

std::string View::levelTitle(LoadLevel level, Language language) {
  const auto& texts = widgetTexts(language);
  switch (level) {
    case LoadLevel::ok: return texts.loadNormal;
    case LoadLevel::busy: return texts.busy;
    case LoadLevel::overloaded: return texts.overloaded;
    case LoadLevel::critical: return texts.critical;
  }
  return texts.critical;
}

WidgetColor View::headerHealthColor(int64_t score) {
  if (score < 50) return WidgetColor::red;
  if (score < 80) return WidgetColor::orange;
  return WidgetColor::green;
}

View::Header View::header(const WidgetSnapshot& s, bool compact, Language language) {
  Header h;
  h.compact = compact;
  h.levelColor = levelColor(s.level);
  h.title = {levelTitle(s.level, language),
             compact ? WidgetFont::caption : WidgetFont::headline,
             compact,
             false,
             WidgetColor::primary,
             0.8};
  if (!compact && s.health) {
    h.health = HealthMark{
        headerHealthColor(*s.health),
        {std::to_string(*s.health), WidgetFont::caption, false, true, WidgetColor::primary}};
  }
  return h;
}

View::ProcessorFigure View::processorFigure(const WidgetSnapshot& s) {
  ProcessorFigure f;
  f.number = {std::to_string(rounded(s.cpu * 100)), WidgetFont::processorFigure, true, false,
              WidgetColor::primary};
  f.percentSign = {"%", WidgetFont::callout, false, false, WidgetColor::secondary};
  if (s.health) {
    // The small label has only two shades: the score is glanced at, not read.
    auto color = *s.health < 80 ? WidgetColor::orange : WidgetColor::green;
    f.health =
        HealthMark{color, {std::to_string(*s.health), WidgetFont::caption, false, true, color}};
  }
  return f;
}

WidgetBar View::meterBar(double fraction) {
  if (std::isnan(fraction)) return {0, WidgetColor::accent};
  return {std::clamp(fraction, 0.0, 1.0),
          fraction > 0.85 ? WidgetColor::orange : WidgetColor::accent};
}

namespace {

View::Meter meter(std::string label, std::string value, double fraction) {
  return {caption2(std::move(label)), caption2(std::move(value), WidgetColor::secondary, true),
          View::meterBar(fraction)};
}

}  // namespace

View::Meter View::processorMeter(double cpu, Language language) {
  return meter(widgetTexts(language).processor, std::to_string(rounded(cpu * 100)) + "%", cpu);
}

View::Meter View::memoryMeter(uint64_t used, uint64_t total, Language language) {
  double divisor = total == 0 ? 1.0 : static_cast<double>(total);
  return meter(widgetTexts(language).memory,
               bytesText(used, language) + " / " + bytesText(total, language),
               static_cast<double>(used) / divisor);
}

View::Meter View::temperatureMeter(double celsius, Language language) {
  return meter(widgetTexts(language).temperature, std::to_string(rounded(celsius)) + " °C",
               (celsius - 30) / 80);
}

View::DiskRow View::diskRow(const WidgetSnapshot::Disk& disk, Language language) {
  DiskRow r;
  r.symbol = disk.external ? WidgetSymbol::externalDrive : WidgetSymbol::internalDrive;
  r.name = caption2(disk.name);
  double total = static_cast<double>(std::max<int64_t>(disk.totalBytes, 1));
  double used = 1 - static_cast<double>(disk.freeBytes) / total;
  r.bar = {std::clamp(used, 0.0, 1.0), WidgetColor::accent};
  const auto& texts = widgetTexts(language);
  r.free =
      caption2(texts.freeBefore + byte_count::format(disk.freeBytes, language) + texts.freeAfter,
               WidgetColor::secondary, true);
  return r;
}

View::NetworkRow View::networkRow(const NetworkConnection& c) {
  NetworkRow r;
  switch (c.kind) {
    case NetworkConnection::Kind::wifi: r.symbol = WidgetSymbol::wifi; break;
    case NetworkConnection::Kind::vpn: r.symbol = WidgetSymbol::lockShield; break;
    default: r.symbol = WidgetSymbol::cableConnector; break;
  }
  r.name = caption2(c.name);
  if (c.linkBitsPerSec && std::isfinite(*c.linkBitsPerSec)) {
    double bits = *c.linkBitsPerSec;
    std::string speed = bits >= 1e9 ? oneDecimal(bits / 1e9) + " Gbit/s"
                                    : std::to_string(truncated(bits / 1e6)) + " Mbit/s";
    r.speed = caption2(speed, WidgetColor::primary, true);
  }
  r.rates = caption2("↓" + oneDecimal(c.inBytesPerSec / 1048576) + " ↑" +
                         oneDecimal(c.outBytesPerSec / 1048576) + " MiB/s",
                     WidgetColor::secondary, true);
  return r;
}

View::AppRow View::appRow(const WidgetSnapshot::App& app, Language language) {
  AppRow r;
  r.name = {app.name, WidgetFont::caption, false, false, WidgetColor::primary};
  if (app.ai) r.badge = WidgetText{"AI", WidgetFont::caption2, true, false, WidgetColor::purple};
  r.value = {
      std::to_string(truncated(app.cpuPercent)) + "%  " + bytesText(app.memoryBytes, language),
      WidgetFont::caption, false, true, WidgetColor::secondary};
  return r;
}

View::Body View::body() const {
  auto when = snapshot ? snapshot->date : Date{};
  return body(byte_count::localUtcOffset(when));
}

View::Body View::body(std::chrono::seconds utcOffset) const {
  Body b;
  if (!snapshot) {
    b.placeholder = placeholder(language);
    return b;
  }
  const WidgetSnapshot& s = *snapshot;
  const auto& texts = widgetTexts(language);
  auto disks = [&](size_t n) {
    std::vector<DiskRow> rows;
    for (size_t i = 0; i < s.disks.size() && i < n; ++i)
      rows.push_back(diskRow(s.disks[i], language));
    return rows;
  };
  auto columns = [&](size_t diskCount) {
    Columns c;
    c.meters = {processorMeter(s.cpu, language),
                memoryMeter(s.memoryUsed, s.memoryTotal, language)};
    if (s.cpuCelsius) c.meters.push_back(temperatureMeter(*s.cpuCelsius, language));
    c.disks = disks(diskCount);
    return c;
  };
  auto time = caption2(byte_count::timeText(s.date, utcOffset), WidgetColor::tertiary, false);

  switch (family) {
    case Family::small: {
      b.rows.push_back(header(s, true, language));
      b.rows.push_back(processorFigure(s));
      b.rows.push_back(memoryMeter(s.memoryUsed, s.memoryTotal, language));
      for (auto& d : disks(1)) b.rows.push_back(std::move(d));
      break;
    }
    case Family::medium: {
      b.rows.push_back(header(s, false, language));
      b.rows.push_back(columns(2));
      b.rows.push_back(TimeLine{time});
      break;
    }
    case Family::large: {
      b.spacing = 7;
      b.rows.push_back(header(s, false, language));
      b.rows.push_back(
          JobsLine{caption2(texts.jobs + std::to_string(s.jobs), WidgetColor::secondary), time});
      b.rows.push_back(columns(3));
      if (s.network) b.rows.push_back(networkRow(*s.network));
      b.rows.push_back(Divider{});
      b.rows.push_back(
          Heading{{texts.heavyApps, WidgetFont::caption, true, false, WidgetColor::secondary}});
      for (size_t i = 0; i < s.apps.size() && i < 4; ++i)
        b.rows.push_back(appRow(s.apps[i], language));
      break;
    }
  }
  return b;
}

}  // namespace norvo
