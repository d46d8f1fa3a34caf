// One announcement cycle: the time, a chime, the caller's number in groups,
// a chime.
#ifndef ANNC_VOICE_ANNOUNCEMENT_H_
#define ANNC_VOICE_ANNOUNCEMENT_H_

#include <string_view>

namespace annc {

// Whether the number marks a withheld or unknown caller: exactly "Unknown",
// or holding a capital X or a question mark.
bool IsUnknownNumber(std::string_view trimmed);

void AnnounceCall(std::string_view number);

}  // namespace annc

#endif  // ANNC_VOICE_ANNOUNCEMENT_H_
