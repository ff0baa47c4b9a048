// `zemnorvo status --format waybar|i3blocks|text [--watch]`: the status for
// the bars of tiling desktops. With --watch it follows the loop's status.json
// and prints one line per published tick, never measuring itself, so a bar
// that runs it costs nothing between ticks.
#pragma once

#include <string>

namespace norvo::cli {

// Prints the current status in `format` once, or with `watch` one line per
// tick until standard output closes or the store folder goes away (which
// exits 1 with the reason).
void printStatusBar(const std::string& format, bool watch);

}  // namespace norvo::cli
