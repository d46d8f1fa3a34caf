#include "app/phone_book.h"

#include "platform/errors.h"

namespace annc {

PhoneBookText PhoneBook;

void LoadPhoneBook(const std::string& path) {
  if (PhoneBook.Read(path) != 0) {
    ThrowOpenError("Cannot open file " + path, ANNC_FAILING_SITE());
  }
}

std::optional<std::string_view> LookUpName(std::string_view number) { return FindNameInBook(PhoneBook, number); }

}  // namespace annc
