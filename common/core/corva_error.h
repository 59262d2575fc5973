#pragma once
// The one error type of the programs: a number, a source and a description, as the user sees
// them when nothing handles the error. Raised by operations whose failure the caller must see;
// caught at the edge of each window event, never let through a window procedure.

#include <cstdint>
#include <stdexcept>
#include <string>

namespace corva {

// The programs' own error numbers are this base plus an offset.
inline constexpr std::uint32_t kObjectErrorBase = 0x80040000u;

class CorvaError : public std::runtime_error {
 public:
  CorvaError(std::uint32_t number, std::string source, std::string description)
      : std::runtime_error(description),
        number_(number),
        source_(std::move(source)),
        description_(std::move(description)) {}

  std::uint32_t Number() const { return number_; }
  const std::string& Source() const { return source_; }
  const std::string& Description() const { return description_; }

 private:
  std::uint32_t number_;
  std::string source_;
  std::string description_;
};

// How an error nobody handled is shown: its number (as a signed value and in hex) and its
// description.
std::string UnhandledErrorText(const CorvaError& error);

}  // namespace corva
