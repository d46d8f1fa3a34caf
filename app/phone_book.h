// The phone book: "aon.db" in the sound folder, one "number=name" a line.
#ifndef ANNC_APP_PHONE_BOOK_H_
#define ANNC_APP_PHONE_BOOK_H_

#include <optional>
#include <string>
#include <string_view>

#include "book/phone_book_text.h"

namespace annc {

extern PhoneBookText PhoneBook;

// Reads the whole file in one piece. A file that cannot be opened or read,
// or that is not a regular file, throws EFOpenError "Cannot open file
// <path>".
void LoadPhoneBook(const std::string& path);

// The name of the first line whose part before its first "=" equals the
// number ignoring case: the text after that "=".
std::optional<std::string_view> LookUpName(std::string_view number);

}  // namespace annc

#endif  // ANNC_APP_PHONE_BOOK_H_
