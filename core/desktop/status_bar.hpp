// What the status bars of tiling desktops show: waybar's custom module reads
// one JSON object per line, i3blocks three lines (full text, short text,
// colour), polybar one line of text. All of them come from one snapshot, so
// every bar says the same thing the widget and the agents read.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "core/assess/norvo_snapshot.hpp"
#include "core/platform/owner_language.hpp"

namespace norvo::status_bar {

enum class Format { waybar, i3blocks, text };

// Absent for any name but "waybar", "i3blocks" and "text".
std::optional<Format> formatFromName(std::string_view name);

// The widget's level colour in its dark-appearance shade, "#RRGGBB": bars
// and trays are mostly dark, and these read on them.
std::string_view levelColour(LoadLevel level);

// CPU usage in percent, rounded half away from zero, within 0…100.
int cpuPercent(const NorvoSnapshot& snapshot);

// The short text: the level in the owner's words and the CPU usage.
std::string text(const NorvoSnapshot& snapshot, platform::Language language);

// What `format` prints for one snapshot, without the final line feed.
// waybar: {"text", "tooltip" (the status line), "class" (the level's raw
// value), "percentage" (CPU usage)} on one line. i3blocks: the text, the CPU
// usage alone, and the level's colour, on three lines; with `persistent` only
// the first, since i3blocks in persist mode takes every line as a new text.
std::string render(Format format, const NorvoSnapshot& snapshot, platform::Language language,
                   bool persistent = false);

}  // namespace norvo::status_bar
