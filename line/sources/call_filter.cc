#include "line/sources/call_filter.h"

#include "text/caseless.h"
#include "text/terminal_text.h"

namespace annc {
namespace {

bool IsDialable(char c) { return (c >= '0' && c <= '9') || c == '+' || c == '*' || c == '#'; }

bool IsSeparator(char c) { return c == ' ' || c == '\t' || c == '-' || c == '/' || c == '.' || c == '(' || c == ')'; }

bool AnyNumberMatches(const std::vector<std::string>& numbers, std::string_view called) {
  std::string dialed = DialableNumber(called);
  if (dialed.empty()) return false;
  for (const std::string& number : numbers) {
    if (DialableNumber(number) == dialed) return true;
  }
  return false;
}

bool AnyLabelMatches(const std::vector<std::string>& labels, std::string_view label) {
  label = TrimBlanks(label);
  if (label.empty()) return false;
  for (const std::string& wanted : labels) {
    if (SameAsciiIgnoringCase(TrimBlanks(wanted), label)) return true;
  }
  return false;
}

}  // namespace

std::string DialableNumber(std::string_view number) {
  std::string dialable;
  for (char c : number) {
    if (IsDialable(c)) dialable += c;
  }
  return dialable;
}

bool IsOnlyToNumber(std::string_view number) {
  bool digit = false;
  for (char c : number) {
    if (!IsDialable(c) && !IsSeparator(c)) return false;
    digit = digit || (c >= '0' && c <= '9');
  }
  return digit;
}

bool KeepCall(const CallFilter& filter, std::string_view called, std::string_view lineLabel) {
  if (!filter.onlyTo.empty() && !AnyNumberMatches(filter.onlyTo, called)) return false;
  if (!filter.onlyLines.empty() && !AnyLabelMatches(filter.onlyLines, lineLabel)) return false;
  return true;
}

}  // namespace annc
