#include "app/phone_book.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <clocale>
#include <cstring>
#include <cstdio>
#include <fstream>
#include <thread>

#include "platform/errors.h"
#include "platform/test_support.h"

namespace annc {
namespace {

void Book(std::string_view text) { PhoneBook.Assign(text); }

std::string Name(std::string_view number) {
  auto name = LookUpName(number);
  return name ? "[" + std::string(*name) + "]" : "none";
}

TEST(LookUpNameTest, Matching) {
  Book("5551234=Ann Lee\r\n5551234=Bob\r\n5559876 =Cy\r\nno equals sign\r\n\r\nABC=letters\r\n"
       "777=Ann=Lee\r\n888=\r\n =blank\r\n");
  EXPECT_EQ(Name("5551234"), "[Ann Lee]");  // first match wins
  EXPECT_EQ(Name("5559876"), "none");       // the blank before "=" belongs to the name part
  EXPECT_EQ(Name("5559876 "), "[Cy]");
  EXPECT_EQ(Name("abc"), "[letters]");      // letter case does not matter
  EXPECT_EQ(Name("777"), "[Ann=Lee]");
  EXPECT_EQ(Name("888"), "[]");
  EXPECT_EQ(Name(" "), "[blank]");
  EXPECT_EQ(Name("no equals sign"), "none");
  EXPECT_EQ(Name("555123"), "none");         // whole lengths compared
  EXPECT_EQ(Name("55512345"), "none");
}

TEST(LookUpNameTest, OnlyWholeNamePartsAtTheStartOfALineMatch) {
  // A number without letters is searched for in one pass: the hit must
  // still be a whole name part of a line of its own.
  Book("x555=mid\n1555=longer\n555 =blank\r555=after CR\r\n555=second");
  EXPECT_EQ(Name("555"), "[after CR]");
  Book("555=first\n555=second");
  EXPECT_EQ(Name("555"), "[first]");
  Book("a=555=b\n\n\r+49 30=Berlin\rnext");
  EXPECT_EQ(Name("+49 30"), "[Berlin]");
  EXPECT_EQ(Name("555"), "none");
  Book(std::string_view("1=a\0\n2=b", 9));
  EXPECT_EQ(Name("2"), "none");  // after the NUL nothing is read
  Book("12=\n");
  EXPECT_EQ(Name("12"), "[]");
}

TEST(LookUpNameTest, EmptyNumberMatchesTheFirstLineStartingWithEquals) {
  Book("1=a\n=first\n=second\n");
  EXPECT_EQ(Name(""), "[first]");
  Book("1=a\n");
  EXPECT_EQ(Name(""), "none");
  Book("");  // an empty phone book
  EXPECT_EQ(Name(""), "none");
  EXPECT_EQ(Name("5"), "none");
  EXPECT_EQ(Name("a"), "none");
}

TEST(LookUpNameTest, CaseOfLettersInOtherScriptsUnderUtf8) {
  testing::LocaleScope scope("C.UTF-8");
  ASSERT_TRUE(scope.ok());
  Book("\xd0\x90\xd0\x91\xd0\x92=Cyrillic\nSTRA\xc3\x9f" "E=German\n");
  EXPECT_EQ(Name("\xd0\xb0\xd0\xb1\xd0\xb2"), "[Cyrillic]");  // абв finds АБВ
  EXPECT_EQ(Name("stra\xc3\x9f" "e"), "[German]");
  EXPECT_EQ(Name("\xd0\xb0\xd0\xb1"), "none");
  // Bytes that are not UTF-8 compare as themselves (at the very start,
  // these two would be a UTF-16 byte-order mark).
  Book("1=x\n\xff\xfe=raw\n");
  EXPECT_EQ(Name("\xff\xfe"), "[raw]");
  EXPECT_EQ(Name("\xff\xff"), "none");
}

TEST(LookUpNameTest, AsciiCaseInTheCLocale) {
  testing::LocaleScope scope("C");
  ASSERT_TRUE(scope.ok());
  Book("AbC=x\n");
  EXPECT_EQ(Name("aBc"), "[x]");
  EXPECT_EQ(Name("aBd"), "none");
}

// The text as UTF-16 code units in the given byte order.
std::string Utf16(std::u16string_view text, bool bigEndian) {
  std::string bytes;
  for (char16_t unit : text) {
    char hi = static_cast<char>(unit >> 8), lo = static_cast<char>(unit & 0xFF);
    bytes += bigEndian ? hi : lo;
    bytes += bigEndian ? lo : hi;
  }
  return bytes;
}

TEST(LookUpNameTest, ByteOrderMarks) {
  testing::LocaleScope scope("C.UTF-8");
  ASSERT_TRUE(scope.ok());
  // A UTF-8 mark is not part of the first number, on either way of looking.
  Book("\xEF\xBB\xBF" "5551234=Ann\r\nABC=letters\r\n");
  EXPECT_EQ(Name("5551234"), "[Ann]");
  Book("\xEF\xBB\xBF" "ABC=letters\r\n");
  EXPECT_EQ(Name("abc"), "[letters]");
  Book("\xEF\xBB\xBF");
  EXPECT_EQ(Name(""), "none");
  // UTF-16 in either byte order is compared and named in the locale's
  // encoding, letter case ignored as usual.
  for (bool bigEndian : {false, true}) {
    std::string mark = bigEndian ? "\xFE\xFF" : "\xFF\xFE";
    Book(mark + Utf16(u"5551234=Ann L\u00e9e\r\n\u00c5SE=Norwegian\r\n12=\U0001F600\n", bigEndian));
    EXPECT_EQ(Name("5551234"), "[Ann L\xc3\xa9" "e]") << bigEndian;
    EXPECT_EQ(Name("\xc3\xa5se"), "[Norwegian]") << bigEndian;
    EXPECT_EQ(Name("12"), "[\xf0\x9f\x98\x80]") << bigEndian;
  }
  // A NUL character ends the text, as a NUL byte does.
  Book("\xFF\xFE" + Utf16(std::u16string(u"1=a\n\0" u"2=b", 8), false));
  EXPECT_EQ(Name("1"), "[a]");
  EXPECT_EQ(Name("2"), "none");
}

TEST(LoadPhoneBookTest, ReadsTheFileAndReportsAMissingOne) {
  std::string dir = testing::ScopedTempPath::TempFolder();
  testing::ScopedTempPath path("book_test.db");
  testing::WriteWholeFile(path, "1=one\r\n2=two");
  LoadPhoneBook(path);
  EXPECT_EQ(Name("2"), "[two]");
  std::remove(path.str().c_str());
  try {
    LoadPhoneBook(path);
    FAIL() << "a missing phone book must throw";
  } catch (const UnhandledError& e) {
    EXPECT_EQ(e.kind, "EFOpenError");
    EXPECT_EQ(e.message, "Cannot open file " + path.str());
  }
  try {
    LoadPhoneBook(dir);  // a folder cannot be read as a phone book
    FAIL() << "a folder must throw";
  } catch (const UnhandledError& e) {
    EXPECT_EQ(e.message, "Cannot open file " + dir);
  }
}

}  // namespace
}  // namespace annc

namespace annc {
namespace {

// Opens a FIFO for writing as soon as a reader has it open, writes a
// phone-book line and closes it; gives up when told to stop.
class FifoWriter {
 public:
  explicit FifoWriter(const std::string& path)
      : thread_([this, path] {
          while (!stop_) {
            int fd = ::open(path.c_str(), O_WRONLY | O_NONBLOCK);
            if (fd >= 0) {
              (void)!::write(fd, "1=a\n", 4);
              ::close(fd);
              return;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
          }
        }) {}
  ~FifoWriter() {
    stop_ = true;
    thread_.join();
  }

 private:
  std::atomic<bool> stop_{false};
  std::thread thread_;
};

TEST(LoadPhoneBookTest, OnlyARegularFileIsRead) {
  testing::ScopedTempPath fifo("book_test.fifo");
  ASSERT_EQ(::mkfifo(fifo.str().c_str(), 0600), 0);
  testing::ScopedTempPath socketPath("book_test.sock");
  int sock = ::socket(AF_UNIX, SOCK_STREAM, 0);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  ASSERT_LT(socketPath.str().size(), sizeof address.sun_path);
  std::strcpy(address.sun_path, socketPath.str().c_str());
  ASSERT_EQ(::bind(sock, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);

  const std::string notFiles[] = {fifo.str(), "/dev/null", socketPath.str(),
                                  testing::ScopedTempPath::TempFolder()};
  for (const std::string& path : notFiles) {
    // A FIFO is neither waited on nor read: the writer never gets in.
    FifoWriter writer(fifo);
    try {
      LoadPhoneBook(path);
      ADD_FAILURE() << path << " was read as a phone book";
    } catch (const UnhandledError& e) {
      EXPECT_EQ(e.kind, "EFOpenError");
      EXPECT_EQ(e.message, "Cannot open file " + path);
    }
  }
  ::close(sock);
}

}  // namespace
}  // namespace annc
