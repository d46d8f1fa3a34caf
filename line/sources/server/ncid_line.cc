#include "line/sources/server/ncid_line.h"

#include "text/parse_integer.h"
#include "text/terminal_text.h"

namespace annc {

namespace {

constexpr std::string_view kCallLabel = "CID:";
constexpr std::string_view kCallInfoLabel = "CIDINFO:";
constexpr std::string_view kStartupDoneCode = "300";

// A ring count: at most 9 digits, so that the value always fits
// an int.
constexpr std::size_t kMostFieldDigits = 9;

// The fields of a CID or CIDINFO line: the *KEY*value* pairs from the first
// '*' on. Returns the value of the first pair with the key, if any.
struct Fields {
  std::string_view text;  // from the first '*'

  std::optional<std::string_view> Find(std::string_view key) const {
    std::size_t pos = 0;  // at the '*' before a key
    while (pos < text.size()) {
      std::size_t keyEnd = text.find('*', pos + 1);
      if (keyEnd == std::string_view::npos) break;
      std::size_t valueEnd = text.find('*', keyEnd + 1);
      if (valueEnd == std::string_view::npos) break;
      if (text.substr(pos + 1, keyEnd - pos - 1) == key) return text.substr(keyEnd + 1, valueEnd - keyEnd - 1);
      pos = valueEnd;
    }
    return std::nullopt;
  }

  std::string Get(std::string_view key) const { return std::string(Find(key).value_or("")); }
};

Fields FieldsAfter(std::string_view rest) {
  std::size_t star = rest.find('*');
  return Fields{star == std::string_view::npos ? std::string_view() : rest.substr(star)};
}

}  // namespace

NcidEvent ParseNcidLine(std::string_view line) {
  line = TrimBlanks(line);
  NcidEvent event;
  if (line.substr(0, kStartupDoneCode.size()) == kStartupDoneCode &&
      (line.size() == kStartupDoneCode.size() || line[kStartupDoneCode.size()] == ' ')) {
    event.kind = NcidEvent::kStartupDone;
  } else if (line.substr(0, kCallLabel.size()) == kCallLabel) {
    Fields fields = FieldsAfter(line.substr(kCallLabel.size()));
    event.kind = NcidEvent::kCall;
    event.lineId = fields.Get("LINE");
    event.number = fields.Get("NMBR");
    event.name = fields.Get("NAME");
  } else if (line.substr(0, kCallInfoLabel.size()) == kCallInfoLabel) {
    Fields fields = FieldsAfter(line.substr(kCallInfoLabel.size()));
    std::optional<long long> ring = ParseDecimal(fields.Find("RING").value_or(""), kMostFieldDigits, true);
    if (ring && *ring > 0) {
      event.kind = NcidEvent::kRing;
    } else if (ring && *ring >= -3) {
      event.kind = NcidEvent::kCallEnded;
    } else {
      return event;  // no ring count, or one that means nothing yet
    }
    event.ring = static_cast<int>(*ring);
    event.lineId = fields.Get("LINE");
  }
  return event;
}

std::string NcidHello(std::string_view version) {
  std::string ident = "HELLO: IDENT: client annc-line";
  // Whatever the server's locale, neither a C1 byte nor the first byte of
  // a UTF-8 C1 control reaches its log.
  std::string shown = WithoutControlBytes(TrimBlanks(version), Charset::kSingleByte);
  if (!shown.empty()) ident += " " + shown;
  return ident + "\r\nHELLO: CMD: no_log\r\n";
}

}  // namespace annc
