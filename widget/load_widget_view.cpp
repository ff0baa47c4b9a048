#include "widget/load_widget_view.hpp"

#include <algorithm>
#include <cmath>

#include "core/assess/text_format.hpp"
#include "widget/byte_count_format.hpp"

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

std::string memoryText(uint64_t bytes) {
  return byte_count::format(bytes, byte_count::Style::memory);
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

View::Placeholder View::placeholder() {
  Placeholder p;
  p.message = {"Откройте Zemra Norvo", WidgetFont::caption, false, false, WidgetColor::secondary};
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

std::string View::levelTitle(LoadLevel level) {
  switch (level) {
    case LoadLevel::ok: return "Нагрузка в норме";
    case LoadLevel::busy: return "Мак занят";
    case LoadLevel::overloaded: return "Мак перегружен";
    case LoadLevel::critical: return "Критическая нагрузка";
  }
  return "Критическая нагрузка";
}

WidgetColor View::headerHealthColor(int64_t score) {
  if (score < 50) return WidgetColor::red;
  if (score < 80) return WidgetColor::orange;
  return WidgetColor::green;
}

View::Header View::header(const WidgetSnapshot& s, bool compact) {
  Header h;
  h.compact = compact;
  h.levelColor = levelColor(s.level);
  h.title = {levelTitle(s.level),
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

View::Meter View::processorMeter(double cpu) {
  return meter("Процессор", std::to_string(rounded(cpu * 100)) + "%", cpu);
}

View::Meter View::memoryMeter(uint64_t used, uint64_t total) {
  double divisor = total == 0 ? 1.0 : static_cast<double>(total);
  return meter("Память", memoryText(used) + " / " + memoryText(total),
               static_cast<double>(used) / divisor);
}

View::Meter View::temperatureMeter(double celsius) {
  return meter("Температура", std::to_string(rounded(celsius)) + " °C", (celsius - 30) / 80);
}

View::DiskRow View::diskRow(const WidgetSnapshot::Disk& disk) {
  DiskRow r;
  r.symbol = disk.external ? WidgetSymbol::externalDrive : WidgetSymbol::internalDrive;
  r.name = caption2(disk.name);
  double total = static_cast<double>(std::max<int64_t>(disk.totalBytes, 1));
  double used = 1 - static_cast<double>(disk.freeBytes) / total;
  r.bar = {std::clamp(used, 0.0, 1.0), WidgetColor::accent};
  r.free = caption2("свободно " + byte_count::format(disk.freeBytes, byte_count::Style::file),
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
                         oneDecimal(c.outBytesPerSec / 1048576) + " MB/s",
                     WidgetColor::secondary, true);
  return r;
}

View::AppRow View::appRow(const WidgetSnapshot::App& app) {
  AppRow r;
  r.name = {app.name, WidgetFont::caption, false, false, WidgetColor::primary};
  if (app.ai) r.badge = WidgetText{"AI", WidgetFont::caption2, true, false, WidgetColor::purple};
  r.value = {std::to_string(truncated(app.cpuPercent)) + "%  " + memoryText(app.memoryBytes),
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
    b.placeholder = placeholder();
    return b;
  }
  const WidgetSnapshot& s = *snapshot;
  auto disks = [&](size_t n) {
    std::vector<DiskRow> rows;
    for (size_t i = 0; i < s.disks.size() && i < n; ++i) rows.push_back(diskRow(s.disks[i]));
    return rows;
  };
  auto columns = [&](size_t diskCount) {
    Columns c;
    c.meters = {processorMeter(s.cpu), memoryMeter(s.memoryUsed, s.memoryTotal)};
    if (s.cpuCelsius) c.meters.push_back(temperatureMeter(*s.cpuCelsius));
    c.disks = disks(diskCount);
    return c;
  };
  auto time = caption2(byte_count::timeText(s.date, utcOffset), WidgetColor::tertiary, false);

  switch (family) {
    case Family::small: {
      b.rows.push_back(header(s, true));
      b.rows.push_back(processorFigure(s));
      b.rows.push_back(memoryMeter(s.memoryUsed, s.memoryTotal));
      for (auto& d : disks(1)) b.rows.push_back(std::move(d));
      break;
    }
    case Family::medium: {
      b.rows.push_back(header(s, false));
      b.rows.push_back(columns(2));
      b.rows.push_back(TimeLine{time});
      break;
    }
    case Family::large: {
      b.spacing = 7;
      b.rows.push_back(header(s, false));
      b.rows.push_back(
          JobsLine{caption2("AI может параллельно: тяжёлых задач — " + std::to_string(s.jobs),
                            WidgetColor::secondary),
                   time});
      b.rows.push_back(columns(3));
      if (s.network) b.rows.push_back(networkRow(*s.network));
      b.rows.push_back(Divider{});
      b.rows.push_back(
          Heading{{"Тяжёлые программы", WidgetFont::caption, true, false, WidgetColor::secondary}});
      for (size_t i = 0; i < s.apps.size() && i < 4; ++i) b.rows.push_back(appRow(s.apps[i]));
      break;
    }
  }
  return b;
}

}  // namespace norvo
