#pragma once
#include <string>

namespace corva::win {

// The user's documents folder (UTF-8), or an empty text when the shell cannot tell.
std::string DefaultSaveDirectory();

}  // namespace corva::win
