// Builds the power report from the history files of a folder, several times, and prints the
// median time and the page's size. With --out it also writes the page (the demo uses it).
//
//   report_build DIR --now 2026-12-07T12:00:00-06:00 [--runs N] [--out FILE]

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

#include "report.h"

using namespace corva::history;

int main(int argc, char** argv) {
  if (argc < 4 || std::string(argv[2]) != "--now") {
    std::cerr << "uso: report_build DIR --now AAAA-MM-DDTHH:MM:SS+HH:MM [--runs N] [--out FILE]\n";
    return 2;
  }
  const std::filesystem::path dir = argv[1];
  LocalStamp now;
  char sign = '+';
  int oh = 0, om = 0;
  if (std::sscanf(argv[3], "%4d-%2d-%2dT%2d:%2d:%2d%c%2d:%2d", &now.year, &now.month, &now.day,
                  &now.hour, &now.minute, &now.second, &sign, &oh, &om) != 9) {
    return 2;
  }
  now.utc_offset_minutes = (sign == '-' ? -1 : 1) * (oh * 60 + om);
  int runs = 7;
  std::string out_path;
  for (int i = 4; i + 1 < argc; i += 2) {
    const std::string arg = argv[i];
    if (arg == "--runs") runs = std::max(1, std::atoi(argv[i + 1]));
    if (arg == "--out") out_path = argv[i + 1];
  }

  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(dir)) {
    names.push_back(entry.path().filename().string());
  }
  const std::vector<std::string> order = ReportFileOrder(names);

  std::vector<double> times;
  std::string page;
  int skipped = 0;
  std::string text;
  for (int run = 0; run < runs; ++run) {
    const auto start = std::chrono::steady_clock::now();
    // What Corvamon /informe does: each file read whole, then its lines.
    PowerReport report(now);
    for (const std::string& name : order) {
      std::ifstream in(dir / name, std::ios::binary | std::ios::ate);
      text.resize(static_cast<std::size_t>(std::max<std::streamoff>(0, in.tellg())));
      in.seekg(0);
      in.read(text.data(), static_cast<std::streamsize>(text.size()));
      report.AddText(text);
    }
    page = report.Html({});
    skipped = report.skipped_lines();
    times.push_back(
        std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
            .count());
  }
  std::sort(times.begin(), times.end());
  std::printf(
      "archivos: %zu\nlineas omitidas: %d\nmediana: %.1f ms (%d vueltas, min %.1f, max %.1f)\n"
      "pagina: %zu bytes\n",
      order.size(), skipped, times[times.size() / 2], runs, times.front(), times.back(),
      page.size());
  if (!out_path.empty()) {
    std::ofstream out(out_path, std::ios::binary);
    out << page;
    if (!out) return 1;
  }
  return 0;
}
