// Fuzzes the saved button descriptions the ImageBtn container creates its instances from. Any
// text gets an answer: the records, or the line that could not be read. Whatever is accepted
// can be placed at every art scale without overflow (UBSan watches the arithmetic).

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "dpi_scale.h"
#include "form_description.h"

using namespace corva;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  const FormParseResult parsed = ParseFormDescription(text);
  if (!parsed.error.empty()) {
    if (parsed.error.rfind("line ", 0) != 0) std::abort();
    return 0;
  }
  for (const FormRecord& r : parsed.records) {
    if (r.left < kMinPlace || r.left > kMaxPlace || r.top < kMinPlace || r.top > kMaxPlace ||
        r.width < 0 || r.width > kMaxPlace || r.height < 0 || r.height > kMaxPlace)
      std::abort();
    // The container's place of the instance, as it keeps it and at each scale it draws.
    const int right = r.left + r.width, bottom = r.top + r.height;
    for (int scale : {100, 150, 200}) {
      const dpi::ScaledRect at = dpi::ScaleRect(r.left, r.top, r.width, r.height, scale);
      if (at.w < 0 || at.h < 0 || dpi::ScaleBy(right, scale) < at.x ||
          dpi::ScaleBy(bottom, scale) < at.y)
        std::abort();
    }
    for (const auto& [name, value] : r.properties) {
      if (name.empty()) std::abort();
      for (char c : name)
        if (c >= 'A' && c <= 'Z') std::abort();  // stored lower-case
      if (name == "id" || name == "left" || name == "top" || name == "width" || name == "height" ||
          name == "tag" || name == "tooltiptext")
        std::abort();  // the container's own entries never reach the control
      if (value.kind == FormValue::Kind::Picture && (value.number <= 0 || value.number > 0xFFFF))
        std::abort();
    }
  }
  return 0;
}
