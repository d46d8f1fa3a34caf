#include "line/call_logger.h"

#include "book/phone_book_text.h"
#include "line/names/name_recording.h"
#include "line/start_check.h"
#include "platform/errors.h"
#include "text/terminal_text.h"

namespace annc {

PhoneBookLookup BookBesideAnnouncer(const std::string& annc, Files& files) {
  return [annc, &files](std::string_view number) -> std::optional<std::string> {
    PhoneBookText book;
    if (ReadPhoneBook(files, SoundFolderOf(annc) + "aon.db", &book) != 0) return std::nullopt;
    std::optional<std::string_view> name = FindNameInBook(book, number);
    if (!name) return std::nullopt;
    return std::string(*name);
  };
}

void CallLogger::LogUnannounced(const std::string& number) {
  std::string message = CaretNotation(number, "", charset_);
  if (book_) {
    if (std::optional<std::string> name = book_(number)) message += " - " + CaretNotation(*name, "", charset_);
  }
  Log(' ', message);
}

void CallLogger::Log(char mark, const std::string& message) {
  if (int error = log_.Append(logFile_, mark, message); error != 0) {
    output_.Status(CannotText("write the call to " + CaretNotation(logFile_, "", charset_), error));
  }
}

}  // namespace annc
