#include "form_description.h"

#include <cctype>
#include <charconv>
#include <limits>

namespace corva {

namespace {

std::string_view Trim(std::string_view s) {
  while (!s.empty() && std::isspace(static_cast<unsigned char>(s.front()))) s.remove_prefix(1);
  while (!s.empty() && std::isspace(static_cast<unsigned char>(s.back()))) s.remove_suffix(1);
  return s;
}

std::string Lower(std::string_view s) {
  std::string out(s);
  for (char& c : out) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return out;
}

bool ParseInt(std::string_view s, std::int32_t& out) {
  int base = 10;
  if (s.size() > 2 && s[0] == '&' && (s[1] == 'H' || s[1] == 'h')) {
    s.remove_prefix(2);
    base = 16;
  }
  if (s.empty()) return false;
  std::int64_t v = 0;
  auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), v, base);
  if (ec != std::errc() || end != s.data() + s.size()) return false;
  if (base == 16) {
    // &H values are 32-bit patterns: &H80000012 is a negative int32.
    if (v < 0 || v > 0xFFFFFFFFLL) return false;
    out = static_cast<std::int32_t>(static_cast<std::uint32_t>(v));
    return true;
  }
  if (v < std::numeric_limits<std::int32_t>::min() || v > std::numeric_limits<std::int32_t>::max())
    return false;
  out = static_cast<std::int32_t>(v);
  return true;
}

bool ParseValue(std::string_view s, FormValue& out) {
  if (s.size() >= 2 && s.front() == '"' && s.back() == '"') {
    out.kind = FormValue::Kind::Text;
    out.text.clear();
    const std::string_view inner = s.substr(1, s.size() - 2);
    for (std::size_t i = 0; i < inner.size(); ++i) {
      if (inner[i] == '"') {
        if (i + 1 >= inner.size() || inner[i + 1] != '"') return false;
        ++i;
      }
      out.text += inner[i];
    }
    return true;
  }
  const std::string lower = Lower(s);
  if (lower == "true" || lower == "false") {
    out.kind = FormValue::Kind::Switch;
    out.flag = lower == "true";
    return true;
  }
  if (lower.rfind("res:", 0) == 0) {
    out.kind = FormValue::Kind::Picture;
    return ParseInt(s.substr(4), out.number) && out.number > 0 && out.number < 0x10000;
  }
  out.kind = FormValue::Kind::Number;
  return ParseInt(s, out.number);
}

}  // namespace

FormParseResult ParseFormDescription(std::string_view text) {
  FormParseResult result;
  int line_no = 0;
  auto fail = [&](const std::string& why) {
    result.error = "line " + std::to_string(line_no) + ": " + why;
    return result;
  };
  while (!text.empty()) {
    ++line_no;
    const std::size_t eol = text.find('\n');
    std::string_view line = Trim(text.substr(0, eol));
    text.remove_prefix(eol == std::string_view::npos ? text.size() : eol + 1);
    if (line.empty() || line.front() == ';') continue;
    if (line.front() == '[') {
      if (line.back() != ']' || line.size() < 3) return fail("a record name is [Name]");
      result.records.push_back({});
      result.records.back().name = std::string(Trim(line.substr(1, line.size() - 2)));
      continue;
    }
    if (result.records.empty()) return fail("a property before the first [Name]");
    const std::size_t eq = line.find('=');
    if (eq == std::string_view::npos) return fail("expected name = value");
    const std::string name = Lower(Trim(line.substr(0, eq)));
    FormValue value;
    if (name.empty() || !ParseValue(Trim(line.substr(eq + 1)), value))
      return fail("cannot read the value of \"" + name + "\"");
    FormRecord& r = result.records.back();
    auto number = [&](int& field) {
      if (value.kind != FormValue::Kind::Number) return false;
      field = value.number;
      return true;
    };
    auto str = [&](std::string& field) {
      if (value.kind != FormValue::Kind::Text) return false;
      field = value.text;
      return true;
    };
    // A place is a window's position or size: it fits 16 bits (sizes are never negative), so
    // every sum and scaling the container makes of it stays in range.
    bool in_range = true;
    auto place = [&](int& field, int lowest) {
      if (!number(field)) return false;
      in_range = field >= lowest && field <= kMaxPlace;
      return true;
    };
    bool ok = true;
    if (name == "id") ok = number(r.id);
    else if (name == "left") ok = place(r.left, kMinPlace);
    else if (name == "top") ok = place(r.top, kMinPlace);
    else if (name == "width") ok = place(r.width, 0);
    else if (name == "height") ok = place(r.height, 0);
    else if (name == "tag") ok = str(r.tag);
    else if (name == "tooltiptext") ok = str(r.tooltiptext);
    else r.properties.emplace_back(name, std::move(value));
    if (!ok) return fail("\"" + name + "\" has a value of the wrong kind");
    if (!in_range) return fail("\"" + name + "\" is out of range");
  }
  return result;
}

}  // namespace corva
