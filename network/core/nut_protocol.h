#pragma once
// The words of the NUT network protocol: how a command line splits into words, how a value is
// written back, the error answers, and the secret comparison used at login.

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace corva::net {

// The longest command line a client may send, newline not counted.
inline constexpr std::size_t kMaxLineLength = 1024;
// The protocol version spoken (NETVER, PROTVER).
inline constexpr char kProtocolVersion[] = "1.3";

// Error answers, written "ERR <code>".
namespace err {
inline constexpr char kAccessDenied[] = "ACCESS-DENIED";
inline constexpr char kUnknownUps[] = "UNKNOWN-UPS";
inline constexpr char kVarNotSupported[] = "VAR-NOT-SUPPORTED";
inline constexpr char kInvalidArgument[] = "INVALID-ARGUMENT";
inline constexpr char kFeatureNotConfigured[] = "FEATURE-NOT-CONFIGURED";
inline constexpr char kDataStale[] = "DATA-STALE";
inline constexpr char kAlreadyLoggedIn[] = "ALREADY-LOGGED-IN";
inline constexpr char kAlreadySetPassword[] = "ALREADY-SET-PASSWORD";
inline constexpr char kAlreadySetUsername[] = "ALREADY-SET-USERNAME";
inline constexpr char kUsernameRequired[] = "USERNAME-REQUIRED";
inline constexpr char kPasswordRequired[] = "PASSWORD-REQUIRED";
inline constexpr char kUnknownCommand[] = "UNKNOWN-COMMAND";
}  // namespace err

// Splits one line (without its newline) into words. Blanks (space, tab, carriage return)
// separate words; a double-quoted part may hold blanks; a backslash takes the next character as
// it is, inside quotes or not; "" is an empty word. Nothing when a quote is left open or the line
// ends in a lone backslash.
std::optional<std::vector<std::string>> SplitCommandLine(std::string_view line);

// A value written inside double quotes: backslashes and double quotes escaped.
std::string QuotedValue(std::string_view value);

// Compares a secret with what a client sent in time that depends only on the length of what the
// client sent, never on where the first difference is.
bool SecretMatches(std::string_view secret, std::string_view sent);

}  // namespace corva::net
