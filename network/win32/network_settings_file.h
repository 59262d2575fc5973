#pragma once
// The [Red] section read from Corvamon.ini once at start, like the rest of the file.

#include <string_view>

#include "net_settings.h"

namespace corva::net::win {

// Reads [Red] of the settings file at `path`. A missing key reads as empty (so that a missing
// EsperaSecundarios is the default wait, not 0); lists may be longer than the monitor's keys.
NetworkSettings ReadNetworkSettings(std::string_view path);

}  // namespace corva::net::win
