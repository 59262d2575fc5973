// Fuzzes the power report over any history text: every line is read or counted as skipped, and
// the page is always whole, with nothing from the file able to open markup.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "report.h"

using namespace corva::history;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  PowerReport report({2026, 12, 7, 12, 0, 0, -360});
  report.AddText(text);
  std::size_t lines = 0;
  for (const char c : text) lines += c == '\n' ? 1 : 0;
  if (report.skipped_lines() < 0 || static_cast<std::size_t>(report.skipped_lines()) > lines + 1) {
    std::abort();
  }
  for (const std::int64_t span : kReportSpans) {
    const ReportFigures f = report.Figures(span);
    if (f.seconds_on_battery < 0 || f.longest_on_battery > f.seconds_on_battery) std::abort();
    if (f.lowest_voltage && (!f.highest_voltage || *f.lowest_voltage > *f.highest_voltage)) {
      std::abort();
    }
    if (f.lowest_battery && (*f.lowest_battery < 0 || *f.lowest_battery > 100)) std::abort();
  }
  const std::string page = report.Html({});
  if (page.find("</html>") == std::string::npos || page.find("<script") != std::string::npos ||
      page.find("nan") != std::string::npos || page.find("inf") != std::string::npos) {
    std::abort();
  }
  return 0;
}
