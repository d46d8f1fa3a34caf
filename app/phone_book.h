// The phone book: "aon.db" in the sound folder, one "number=name" a line.
#ifndef ANNC_APP_PHONE_BOOK_H_
#define ANNC_APP_PHONE_BOOK_H_

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace annc {

// The file's lines in file order, pointing into the text read.
extern std::vector<std::string_view> PhoneBook;

// Splits text into lines ending in CR, LF or CR LF; a NUL ends the text; a
// last line without an end counts, a final line end adds no empty line.
void SplitLines(std::string_view text, std::vector<std::string_view>* lines);

// Reads the whole file in one piece. A file that cannot be opened or read
// throws EFOpenError "Cannot open file <path>".
void LoadPhoneBook(const std::string& path);

// Whether two texts are equal ignoring letter case under the user's locale,
// over their full lengths.
bool SameIgnoringCase(std::string_view a, std::string_view b);

// The name of the first line whose part before its first "=" equals the
// number ignoring case: the text after that "=".
std::optional<std::string_view> LookUpName(std::string_view number);

}  // namespace annc

#endif  // ANNC_APP_PHONE_BOOK_H_
