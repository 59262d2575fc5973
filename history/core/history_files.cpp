#include "history_files.h"

#include <cstdio>

namespace corva::history {

namespace {

int MonthIndex(YearMonth m) {
  return m.year * 12 + (m.month - 1);
}

bool SameLetters(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; };
    if (lower(a[i]) != lower(b[i])) return false;
  }
  return true;
}

// "AAAA-MM" at the start of `text`.
std::optional<YearMonth> LeadingMonth(std::string_view text) {
  if (text.size() < 7 || text[4] != '-') return std::nullopt;
  int digits[6];
  const int positions[6] = {0, 1, 2, 3, 5, 6};
  for (int i = 0; i < 6; ++i) {
    const char c = text[positions[i]];
    if (c < '0' || c > '9') return std::nullopt;
    digits[i] = c - '0';
  }
  const YearMonth m{digits[0] * 1000 + digits[1] * 100 + digits[2] * 10 + digits[3],
                    digits[4] * 10 + digits[5]};
  if (m.month < 1 || m.month > 12) return std::nullopt;
  return m;
}

}  // namespace

std::string MonthlyFileName(YearMonth month) {
  char buffer[48];
  std::snprintf(buffer, sizeof buffer, "Historial-%04d-%02d.csv", month.year, month.month);
  return buffer;
}

std::optional<YearMonth> MonthOfFileName(std::string_view name) {
  constexpr std::string_view kPrefix = "Historial-";
  constexpr std::string_view kSuffix = ".csv";
  if (name.size() != kPrefix.size() + 7 + kSuffix.size()) return std::nullopt;
  if (!SameLetters(name.substr(0, kPrefix.size()), kPrefix) ||
      !SameLetters(name.substr(name.size() - kSuffix.size()), kSuffix)) {
    return std::nullopt;
  }
  return LeadingMonth(name.substr(kPrefix.size(), 7));
}

std::optional<YearMonth> MonthOfRow(std::string_view line) {
  constexpr std::string_view kBom = "\xEF\xBB\xBF";
  if (line.substr(0, kBom.size()) == kBom) line.remove_prefix(kBom.size());
  // The whole time must be there: a date alone is not a row.
  if (line.size() < 19 || line[7] != '-' || line[10] != 'T') return std::nullopt;
  return LeadingMonth(line);
}

Rollover PlanRollover(std::optional<YearMonth> file_month, YearMonth now,
                      const std::vector<std::string>& existing) {
  Rollover plan;
  if (file_month && *file_month < now) plan.rename_to = MonthlyFileName(*file_month);
  const int oldest_kept = MonthIndex(now) - (kMonthsKept - 1);
  for (const std::string& name : existing) {
    const auto month = MonthOfFileName(name);
    if (month && MonthIndex(*month) < oldest_kept) plan.to_delete.push_back(name);
  }
  // The file just renamed is old enough to go too (a computer off for over a year).
  if (plan.rename_to && MonthIndex(*file_month) < oldest_kept) {
    plan.to_delete.push_back(*plan.rename_to);
  }
  return plan;
}

}  // namespace corva::history
