#include "corva_error.h"

#include <cstdio>

namespace corva {

std::string UnhandledErrorText(const CorvaError& error) {
  char number[64];
  std::snprintf(number, sizeof(number), "Error %ld (%08lX)",
                static_cast<long>(static_cast<std::int32_t>(error.Number())),
                static_cast<unsigned long>(error.Number()));
  return std::string(number) + "\r\n\r\n" + error.Description();
}

}  // namespace corva
