// One announcement cycle: the time, a chime, the caller's number in groups,
// a chime.
#ifndef ANNC_VOICE_ANNOUNCEMENT_H_
#define ANNC_VOICE_ANNOUNCEMENT_H_

#include <string_view>

namespace annc {

void AnnounceCall(std::string_view number);

}  // namespace annc

#endif  // ANNC_VOICE_ANNOUNCEMENT_H_
