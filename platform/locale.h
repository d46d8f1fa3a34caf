// The user's locale, as the environment gives it.
#ifndef ANNC_PLATFORM_LOCALE_H_
#define ANNC_PLATFORM_LOCALE_H_

#include <string>
#include <string_view>

#include "text/terminal_text.h"

namespace annc {

// Takes the locale from the environment for character classes, collation,
// time and the language of system messages.
void UseEnvironmentLocale();

// How the current locale (LC_CTYPE) encodes text, as the cleaning of text
// for a terminal needs to know it.
Charset LocaleCharset();

// How the environment's locale (LC_ALL, LC_CTYPE, LANG) encodes text, without
// making it the program's: single-byte when it names no locale there is.
Charset EnvironmentCharset();

// The separator the locale's time format puts between hours and minutes,
// ":" when it gives none.
char LocaleTimeSeparator();

// What stands between the hour and the minute in a strftime format, when
// that is exactly one printable ASCII character other than a digit or a
// letter; ":" otherwise (no hour or minute, several characters, or a part
// of a multi-byte character).
char TimeSeparatorOf(std::string_view timeFormat);

// UTF-16 text, without its byte-order mark, in the locale's encoding
// (LC_CTYPE). A character that encoding cannot hold, a code unit that is
// not part of a valid character and an odd last byte each become '?'.
std::string Utf16ToLocaleText(std::string_view utf16, bool bigEndian);

}  // namespace annc

#endif  // ANNC_PLATFORM_LOCALE_H_
