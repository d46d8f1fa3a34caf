// annc-web's reading of a POST's form body (application/x-www-form-urlencoded),
// on arbitrary bytes:
// - the input as a body: ParseForm agrees with a plain reference reader
//   (split at '&', empty parts skipped, split at the first '=', %XX and '+'
//   decoded, the first of repeated names kept, refused on a malformed
//   escape or past kMaxFields), and never holds more than kMaxFields;
// - name/value pairs cut from the input, written with WithQuery: the result
//   holds only URL-safe characters, and its arguments read back with
//   ParseForm give the pairs again (the first of a repeated name), or a
//   refusal exactly when there are more than kMaxFields.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "tests/fuzz/fuzz_support.h"
#include "web/http.h"

namespace {

using fuzz::Fail;

std::optional<std::string> ReferenceDecode(std::string_view part) {
  auto hex = [](char c) -> int {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
  };
  std::string out;
  for (std::size_t i = 0; i < part.size(); ++i) {
    if (part[i] == '+') {
      out += ' ';
    } else if (part[i] != '%') {
      out += part[i];
    } else if (i + 2 < part.size() && hex(part[i + 1]) >= 0 && hex(part[i + 2]) >= 0) {
      out += static_cast<char>(hex(part[i + 1]) * 16 + hex(part[i + 2]));
      i += 2;
    } else {
      return std::nullopt;
    }
  }
  return out;
}

std::optional<std::map<std::string, std::string>> ReferenceForm(std::string_view text) {
  std::map<std::string, std::string> fields;
  std::size_t count = 0;
  std::size_t start = 0;
  for (;;) {
    std::size_t amp = text.find('&', start);
    std::string_view pair = text.substr(start, amp == std::string_view::npos ? std::string_view::npos : amp - start);
    if (!pair.empty()) {
      if (++count > annc::web::kMaxFields) return std::nullopt;
      std::size_t equals = pair.find('=');
      std::optional<std::string> name = ReferenceDecode(pair.substr(0, equals));
      std::optional<std::string> value =
          equals == std::string_view::npos ? std::string() : ReferenceDecode(pair.substr(equals + 1));
      if (!name || !value) return std::nullopt;
      fields.emplace(*name, *value);
    }
    if (amp == std::string_view::npos) break;
    start = amp + 1;
  }
  return fields;
}

bool UrlSafe(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' || c == '_' ||
         c == '.' || c == '~' || c == '%' || c == '=' || c == '&';
}

void CheckBody(const std::string& body) {
  std::map<std::string, std::string> fields;
  bool read = annc::web::ParseForm(body, &fields);
  std::optional<std::map<std::string, std::string>> expected = ReferenceForm(body);
  if (read != expected.has_value()) Fail(read ? "form read that should be refused" : "form refused", body);
  if (read && fields != *expected) Fail("form read differently from the reference", body);
  if (fields.size() > annc::web::kMaxFields) Fail("more fields than kMaxFields", body);
  // One part alone, as the form's names and values are decoded.
  std::string decoded;
  bool ok = annc::web::DecodeFormPart(body, &decoded);
  std::optional<std::string> reference = ReferenceDecode(body);
  if (ok != reference.has_value() || (ok && decoded != *reference)) Fail("part decoded unlike the reference", body);
}

void CheckRoundTrip(const std::uint8_t* data, std::size_t size) {
  FuzzedDataProvider input(data, size);
  std::vector<std::pair<std::string, std::string>> pairs;
  std::size_t count = input.ConsumeIntegralInRange<std::size_t>(0, annc::web::kMaxFields + 2);
  for (std::size_t i = 0; i < count && input.remaining_bytes() > 0; ++i) {
    std::string name = input.ConsumeRandomLengthString(64);
    std::string value = input.ConsumeRandomLengthString(256);
    pairs.emplace_back(std::move(name), std::move(value));
  }
  std::string url = annc::web::WithQuery("/calls", pairs);
  std::string_view whole(reinterpret_cast<const char*>(data), size);
  if (url.rfind("/calls", 0) != 0) Fail("WithQuery lost the path", whole);
  if (pairs.empty()) {
    if (url != "/calls") Fail("WithQuery added to a path without arguments", whole);
    return;
  }
  if (url.size() < 7 || url[6] != '?') Fail("WithQuery without its '?'", whole);
  std::string query = url.substr(7);
  for (char c : query) {
    if (!UrlSafe(c)) Fail("WithQuery left a character unescaped", whole);
  }
  std::map<std::string, std::string> fields;
  bool read = annc::web::ParseForm(query, &fields);
  if (read != (pairs.size() <= annc::web::kMaxFields)) Fail("written arguments refused, or too many taken", whole);
  if (!read) return;
  std::map<std::string, std::string> expected;
  for (const auto& [name, value] : pairs) expected.emplace(name, value);
  if (fields != expected) Fail("written arguments read back differently", whole);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size > 2 * annc::web::kMaxBodyBytes) return 0;
  CheckBody(std::string(reinterpret_cast<const char*>(data), size));
  CheckRoundTrip(data, size);
  return 0;
}
