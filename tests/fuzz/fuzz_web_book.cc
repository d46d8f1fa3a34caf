// annc-web's phone-book page on a phone book of arbitrary bytes (any
// encoding mark, line ends, NULs, invalid UTF-8 and UTF-16):
// - the page's reading of it: no error, entries in line order, numbers and
//   names well-formed UTF-8 with no control character but a tab;
// - naming a number from the page: refused with a reason and the file left
//   as it was, or done, and then annc, reading the book as it does at a
//   call, finds that name for the number, and the page still sees the
//   book's encoding.
#include <unistd.h>

#include <clocale>
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>
#include <string_view>

#include "book/phone_book_text.h"
#include "tests/fuzz/fuzz_support.h"
#include "web/edit/book_edit.h"

namespace {

using fuzz::Fail;

constexpr std::string_view kNumber = "5551234";
constexpr std::string_view kName = "Anna Lee";

// A name of this process's own in TMPDIR (tools/fuzz.sh gives each run a
// scratch folder); each input removes its file when done, as libFuzzer ends
// without running exit handlers.
const std::string& BookPath() {
  static const std::string path = [] {
    const char* dir = std::getenv("TMPDIR");
    std::string p = std::string(dir != nullptr && *dir != '\0' ? dir : "/tmp") + "/fuzz_web_book.XXXXXX";
    int fd = mkstemp(p.data());
    if (fd < 0) std::abort();
    close(fd);
    return p;
  }();
  return path;
}

std::string Contents(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void Check(std::string_view bytes) {
  const std::string& path = BookPath();
  {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  }

  annc::BookFileView view = annc::ReadBookFile(path);
  if (!view.error.empty()) Fail("a small phone book not read", bytes);
  int last = 0;
  for (const annc::BookEntryView& entry : view.entries) {
    if (entry.line <= last) Fail("entries out of line order", bytes);
    last = entry.line;
    for (const std::string* text : {&entry.number, &entry.name}) {
      if (!fuzz::WellFormedUtf8(*text) || fuzz::HasControl(*text, true)) Fail("an entry not fit for the page", bytes);
    }
  }

  annc::EditOutcome outcome = annc::SetBookName(path, view.version, kNumber, kName);
  std::string after = Contents(path);
  if (outcome.message.empty()) Fail("an outcome without its message", bytes);
  if (!outcome.ok) {
    if (after != bytes) Fail("a refused change wrote the file", bytes);
    return;
  }
  annc::PhoneBookText book;
  book.Assign(after);
  std::optional<std::string_view> found = annc::FindNameInBook(book, kNumber);
  if (!found || *found != kName) Fail("annc does not find the name the page gave", bytes);
  annc::BookFileView again = annc::ReadBookFile(path);
  if (again.encoding != view.encoding) Fail("the book's encoding changed", bytes);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  // annc converts a UTF-16 book to the locale's encoding.
  std::setlocale(LC_ALL, "C.UTF-8");
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size > 8192) return 0;
  Check(std::string_view(reinterpret_cast<const char*>(data), size));
  unlink(BookPath().c_str());
  return 0;
}
