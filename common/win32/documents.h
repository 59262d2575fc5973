#pragma once
#include <string>

namespace corva::win {

// The folder documents are saved in when none is set (UTF-8): the user's documents folder with
// a trailing "\\", or "c:\\" when the shell cannot tell where it is.
std::string DefaultSaveDirectory();

}  // namespace corva::win
