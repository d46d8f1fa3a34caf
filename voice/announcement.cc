#include "voice/announcement.h"

#include <cstdio>
#include <string>

#include "text/parse_integer.h"
#include "text/terminal_text.h"
#include "modem/result_watcher.h"
#include "platform/platform.h"
#include "voice/number_speaker.h"
#include "voice/wave_player.h"

namespace annc {

namespace {

constexpr int kAfterOpeningChimeMs = 250;
constexpr int kAfterGroupMs = 250;
constexpr int kAfterNameMs = 250;
constexpr int kAfterClosingChimeMs = 450;

// The clock reading is spoken as its two-digit text reads.
void SayClockField(int value) {
  char text[16];
  std::snprintf(text, sizeof text, "%02d", value);
  SayNumber(ParseInteger(text).value_or(0));
}

// Whether the number marks a withheld or unknown caller: exactly "Unknown",
// or holding a capital X or a question mark.
bool IsUnknownNumber(std::string_view trimmed) {
  return trimmed == "Unknown" || trimmed.find('X') != std::string_view::npos ||
         trimmed.find('?') != std::string_view::npos;
}

}  // namespace

void AnnounceCall(std::string_view number, const std::string& nameRecording) {
  std::string_view rest = TrimBlanks(number);
  Platform& sys = Sys();

  SayClockField(sys.Now().hour);
  SayClockField(sys.Now().minute);
  PlayWave(SoundDir + "InterDigit.Wav");
  sys.Sleep(kAfterOpeningChimeMs);

  if (!nameRecording.empty() && PlayWaveQuietly(nameRecording)) {
    DrainModem();
    sys.Sleep(kAfterNameMs);
  }

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
