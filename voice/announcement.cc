#include "voice/announcement.h"

#include <cstdio>
#include <string>

#include "log/parse_integer.h"
#include "platform/platform.h"
#include "voice/number_speaker.h"
#include "voice/wave_player.h"

namespace annc {

namespace {

constexpr int kAfterOpeningChimeMs = 250;
constexpr int kAfterGroupMs = 250;
constexpr int kAfterClosingChimeMs = 450;

std::string_view Trim(std::string_view text) {
  while (!text.empty() && static_cast<unsigned char>(text.front()) <= 32) text.remove_prefix(1);
  while (!text.empty() && static_cast<unsigned char>(text.back()) <= 32) text.remove_suffix(1);
  return text;
}

// The clock reading is spoken as its two-digit text reads.
void SayClockField(int value) {
  char text[16];
  std::snprintf(text, sizeof text, "%02d", value);
  SayNumber(ParseInteger(text).value_or(0));
}

}  // namespace

bool IsUnknownNumber(std::string_view trimmed) {
  return trimmed == "Unknown" || trimmed.find('X') != std::string_view::npos ||
         trimmed.find('?') != std::string_view::npos;
}

void AnnounceCall(std::string_view number) {
  std::string_view rest = Trim(number);
  Platform& sys = Sys();

  SayClockField(sys.Now().hour);
  SayClockField(sys.Now().minute);
  PlayWave(SoundDir + "InterDigit.Wav");
  sys.Sleep(kAfterOpeningChimeMs);

  if (IsUnknownNumber(rest)) {
    PlayWave(SoundDir + "nophone.wav");
  } else {
    // From the left: three digits first when the length is odd, then pairs.
    while (!rest.empty()) {
      std::size_t k = rest.size() % 2 == 1 ? 3 : 2;
      std::string_view group = rest.substr(0, k);
      SayNumber(ParseInteger(group).value_or(0));
      rest.remove_prefix(group.size());
      sys.Sleep(kAfterGroupMs);
    }
  }

  PlayWave(SoundDir + "InterDigit.Wav");
  sys.Sleep(kAfterClosingChimeMs);
}

}  // namespace annc
