#include "nut_protocol.h"

namespace corva::net {

std::optional<std::vector<std::string>> SplitCommandLine(std::string_view line) {
  std::vector<std::string> words;
  std::string word;
  bool in_word = false;
  bool quoted = false;
  for (std::size_t i = 0; i < line.size(); ++i) {
    const char c = line[i];
    if (c == '\\') {
      if (++i == line.size()) return std::nullopt;
      word += line[i];
      in_word = true;
    } else if (c == '"') {
      quoted = !quoted;
      in_word = true;
    } else if (!quoted && (c == ' ' || c == '\t' || c == '\r')) {
      if (in_word) words.push_back(std::move(word));
      word.clear();
      in_word = false;
    } else {
      word += c;
      in_word = true;
    }
  }
  if (quoted) return std::nullopt;
  if (in_word) words.push_back(std::move(word));
  return words;
}

std::string QuotedValue(std::string_view value) {
  std::string out = "\"";
  for (char c : value) {
    if (c == '"' || c == '\\') out += '\\';
    out += c;
  }
  out += '"';
  return out;
}

bool SecretMatches(std::string_view secret, std::string_view sent) {
  // Every byte of `sent` is compared against the secret (repeated where it is shorter), so the
  // time taken says nothing about the secret's content or length.
  volatile unsigned char difference = secret.size() == sent.size() ? 0 : 1;
  if (secret.empty()) return false;
  for (std::size_t i = 0; i < sent.size(); ++i) {
    difference = difference | static_cast<unsigned char>(sent[i] ^ secret[i % secret.size()]);
  }
  return difference == 0;
}

}  // namespace corva::net
