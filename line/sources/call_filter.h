// Which calls annc-line announces when told to keep to some own numbers
// (--only-to) or some phone lines (--only-line): a call to anything else is
// dropped before the call tracker sees it, so it is neither announced nor
// logged.
#ifndef ANNC_LINE_CALL_FILTER_H_
#define ANNC_LINE_CALL_FILTER_H_

#include <string>
#include <string_view>
#include <vector>

namespace annc {

struct CallFilter {
  std::vector<std::string> onlyTo;     // own numbers called, as given; empty: any
  std::vector<std::string> onlyLines;  // line labels (a FRITZ!Box's trunk, NCID's LINE); empty: any
};

// Whether a call to `called` (the own number the caller dialled; empty when
// the source does not say) on line `lineLabel` is announced. Each list that
// is not empty must hold a match. Numbers match when their dialable
// characters (digits, '+', '*', '#') are the same, so "030 123-45" matches
// "03012345"; line labels match ignoring the case of ASCII letters, after
// the blanks at their ends are dropped. An empty number or label matches
// nothing.
bool KeepCall(const CallFilter& filter, std::string_view called, std::string_view lineLabel);

// The dialable characters of a number as the filter compares it.
std::string DialableNumber(std::string_view number);

// Whether an --only-to value can ever match: at least one digit, and apart
// from the dialable characters only blanks, '-', '/', '.', '(' and ')'.
bool IsOnlyToNumber(std::string_view number);

}  // namespace annc

#endif  // ANNC_LINE_CALL_FILTER_H_
