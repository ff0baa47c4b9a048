// Every text the widget shows, in both languages it speaks: Russian, the
// widget's own, and English for an owner whose locale asks for it. The
// machine's noun comes from the platform.
#pragma once

#include <string>

#include "core/platform/owner_language.hpp"

namespace norvo {

struct WidgetTexts {
  std::string displayName;                             // the widget gallery's name
  std::string description;                             // the widget gallery's description
  std::string openApp;                                 // shown without a record
  std::string loadNormal, busy, overloaded, critical;  // the level titles
  std::string processor, memory, temperature;          // meter labels
  // The disk's free space: before + size + after.
  std::string freeBefore, freeAfter;
  std::string jobs;       // followed by the number of heavy jobs
  std::string heavyApps;  // the heading of the app rows
};

const WidgetTexts& widgetTexts(platform::Language language);

}  // namespace norvo
