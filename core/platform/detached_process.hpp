// Programs that must outlive the product (the swap script that replaces the
// installed tree once the product has quit), and the one question asked of
// the user's service manager before such a swap.
#pragma once

#include <string>
#include <vector>

namespace norvo::platform {

// Starts argv[0] (a path) in a session of its own with the standard streams
// on /dev/null, and returns without waiting for it. False with `error` set
// when it could not be started.
bool spawnDetached(const std::vector<std::string>& argv, std::string& error);

// Whether the user's systemd manager runs `unit` now (`systemctl --user
// is-active`, given 5 seconds); false when there is no such manager.
bool userServiceActive(const std::string& unit);

}  // namespace norvo::platform
