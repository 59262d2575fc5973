#pragma once
// The history's files beside the program: Historial.csv for the current month, renamed
// Historial-AAAA-MM.csv once its month is over, and the monthly files kept for 13 months
// (the current one and the twelve before it).

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace corva::history {

inline constexpr char kHistoryFileName[] = "Historial.csv";
inline constexpr int kMonthsKept = 13;

struct YearMonth {
  int year = 0, month = 0;
  auto operator<=>(const YearMonth&) const = default;
};

// "Historial-2026-11.csv".
std::string MonthlyFileName(YearMonth month);
// The month a monthly file's name holds; nothing for any other name. Windows names are not
// case-sensitive, and neither is this.
std::optional<YearMonth> MonthOfFileName(std::string_view name);

// The month of a row of the file, from its time ("2026-12-07T14:05:00-06:00;..."), after the
// byte-order mark if the line has it; nothing for a line that starts otherwise (the column
// names, a line cut short).
std::optional<YearMonth> MonthOfRow(std::string_view line);

struct Rollover {
  // The name Historial.csv takes before a row of the current month goes in; nothing when it
  // stays (its rows are of this month, or of a later one after the clock was set back).
  std::optional<std::string> rename_to;
  // Monthly files older than the months kept.
  std::vector<std::string> to_delete;
};

// `file_month`: the month of the rows in Historial.csv (nothing when it is missing or holds no
// row); `existing`: the names in the folder.
Rollover PlanRollover(std::optional<YearMonth> file_month, YearMonth now,
                      const std::vector<std::string>& existing);

}  // namespace corva::history
