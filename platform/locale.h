// The user's locale, as the environment gives it.
#ifndef ANNC_PLATFORM_LOCALE_H_
#define ANNC_PLATFORM_LOCALE_H_

#include <string>

namespace annc {

// Takes the locale from the environment for character classes, collation
// and time.
void UseEnvironmentLocale();

// The separator the locale's time format puts between hours and minutes,
// ":" when it gives none.
std::string LocaleTimeSeparator();

}  // namespace annc

#endif  // ANNC_PLATFORM_LOCALE_H_
