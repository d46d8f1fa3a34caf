// The number a caller-ID source gives, as annc is to be told it.
#ifndef ANNC_LINE_CALLER_NUMBER_H_
#define ANNC_LINE_CALLER_NUMBER_H_

#include <string>
#include <string_view>

namespace annc {

// The number to pass to annc for a number as received from a modem or an
// NCID server, without the blanks (and control bytes) at its ends. The
// markers networks and servers send for a withheld or unknown number (P, O,
// A, PRIVATE, ANONYMOUS, OUT-OF-AREA, UNAVAILABLE, WITHHELD, NO-NUMBER, in
// any letter case) and an empty number become "Unknown", which annc speaks
// with its unknown-number recording.
std::string AnnouncedNumber(std::string_view raw);

// What annc is given as its first argument for a number as received:
// "Unknown" where AnnouncedNumber says so, otherwise the number's digits
// alone, so that no text from the phone network or a server can become one
// of annc's switches (such as /L:FILE); "Unknown" too when it has no digit.
std::string AnnouncerArgument(std::string_view raw);

}  // namespace annc

#endif  // ANNC_LINE_CALLER_NUMBER_H_
