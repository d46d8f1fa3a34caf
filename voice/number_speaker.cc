#include "voice/number_speaker.h"

#include "modem/result_watcher.h"
#include "voice/wave_player.h"

namespace annc {

namespace {
// The recording of the value k: SoundDir, its decimal text, ".wav".
std::string NumberFile(std::int32_t k) { return SoundDir + std::to_string(k) + ".wav"; }

void Play(std::int32_t k) { PlayWave(NumberFile(k)); }
}  // namespace

void SayNumber(std::int32_t n) {
  // Division truncates toward zero, so negative values give negative tens
  // and units.
  std::int32_t r;
  if (n > 99) {
    std::int32_t h = (n / 100) * 100;
    Play(h);
    r = n - h;
    if (r == 0) return;  // an exact hundred: one word, and no modem drain
    if (r > 9 && r / 10 != 1) Play((r / 10) * 10);
  } else {
    r = n;
    if (n / 10 != 1) Play((n / 10) * 10);  // below ten this is the leading zero
  }
  if (r / 10 == 1) {
    Play(r);
  } else {
    if (r == 0) Play(0);
    if (r % 10 != 0) Play(r % 10);
  }
  DrainModem();
}

}  // namespace annc
