#pragma once
// The saved description of a window's ImageBtn instances, as the host programs keep it in a
// resource: one record per instance, "[Name]" and then "name = value" lines. Property names
// are stored lower-case and matched without regard to case. The container's own entries are
// id, left, top, width, height (pixels), tag and tooltiptext; every other name is a property
// of the control. Values:
//   "text"       a text ("" inside it is one quote)
//   res:210      a picture: the bitmap resource 210 of the program
//   &H8000000F   a number in hexadecimal; -12, 48 in decimal
//   True, False  a switch
// Lines starting with ";" are comments. Places (left, top, width, height) are 16-bit numbers,
// sizes from 0.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace corva {

// The range of left, top, width and height (width and height from 0).
inline constexpr int kMinPlace = -32768;
inline constexpr int kMaxPlace = 32767;

struct FormValue {
  enum class Kind { Text, Number, Switch, Picture };
  Kind kind = Kind::Text;
  std::string text;          // Text (UTF-8)
  std::int32_t number = 0;   // Number, and the resource id of a Picture
  bool flag = false;         // Switch
};

struct FormRecord {
  std::string name;  // the instance's Name
  int id = 0;        // its control id in the owning window
  int left = 0, top = 0, width = 0, height = 0;
  std::string tag;
  std::string tooltiptext;
  // The control's own properties, in the order written, names lower-case.
  std::vector<std::pair<std::string, FormValue>> properties;
};

struct FormParseResult {
  std::vector<FormRecord> records;
  std::string error;  // empty when the whole text was read; else "line N: ..."
};

FormParseResult ParseFormDescription(std::string_view text);

}  // namespace corva
