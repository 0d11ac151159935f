// Where the configuration comes from when "-config" is not given: the
// working directory's gesture_event.txt, else the user's configuration
// folder ($XDG_CONFIG_HOME/tolvane/, by default ~/.config/tolvane/), else the
// installed data folder.
#pragma once

#include <string>

// The path to load for `given` (the -config value, or empty).
std::string locateConfiguration(const std::string& given, const std::string& installedDataDir);
