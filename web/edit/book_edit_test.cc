#include "web/edit/book_edit.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "web/edit/edit_test_support.h"

namespace annc {
namespace {

using testing::TempFolder;

enum class Form { kUtf8, kUtf8Mark, kUtf16Le, kUtf16Be };

// `text` (UTF-16 code units) as a file's bytes in `form`, with its mark.
std::string InForm(const std::u16string& text, Form form) {
  std::string bytes;
  if (form == Form::kUtf8 || form == Form::kUtf8Mark) {
    if (form == Form::kUtf8Mark) bytes = "\xEF\xBB\xBF";
    for (std::size_t i = 0; i < text.size(); ++i) {
      char32_t c = text[i];
      if (c >= 0xD800 && c <= 0xDBFF) c = 0x10000 + ((c - 0xD800) << 10) + (text[++i] - 0xDC00);
      if (c < 0x80) {
        bytes += static_cast<char>(c);
      } else if (c < 0x800) {
        bytes += static_cast<char>(0xC0 | c >> 6);
        bytes += static_cast<char>(0x80 | (c & 0x3F));
      } else if (c < 0x10000) {
        bytes += static_cast<char>(0xE0 | c >> 12);
        bytes += static_cast<char>(0x80 | (c >> 6 & 0x3F));
        bytes += static_cast<char>(0x80 | (c & 0x3F));
      } else {
        bytes += static_cast<char>(0xF0 | c >> 18);
        bytes += static_cast<char>(0x80 | (c >> 12 & 0x3F));
        bytes += static_cast<char>(0x80 | (c >> 6 & 0x3F));
        bytes += static_cast<char>(0x80 | (c & 0x3F));
      }
    }
    return bytes;
  }
  bool big = form == Form::kUtf16Be;
  bytes = big ? "\xFE\xFF" : "\xFF\xFE";
  for (char16_t unit : text) {
    char high = static_cast<char>(unit >> 8);
    char low = static_cast<char>(unit & 0xFF);
    bytes += big ? high : low;
    bytes += big ? low : high;
  }
  return bytes;
}

const char* FormName(Form form) {
  switch (form) {
    case Form::kUtf8: return "UTF-8";
    case Form::kUtf8Mark: return "UTF-8 with mark";
    case Form::kUtf16Le: return "UTF-16LE";
    default: return "UTF-16BE";
  }
}

TEST(SetBookNameTest, AddsAndChangesKeepingTheEncodingAndTheOtherLines) {
  struct Case {
    const char* what;
    std::u16string before;
    std::string number;
    std::string name;  // UTF-8
    std::u16string after;
  };
  const Case cases[] = {
      {"change the first line for the number", u"# book\r\n5551234=Old\r\n5551234=Second\r\n777=x\r\n", "5551234",
       "Jos\xC3\xA9 \xF0\x9F\x93\x9E", u"# book\r\n5551234=Jos\u00E9 \U0001F4DE\r\n5551234=Second\r\n777=x\r\n"},
      {"add, CR LF", u"1=a\r\n2=b\r\n", "+4930", "Stra\xC3\x9F" "e", u"1=a\r\n2=b\r\n+4930=Stra\u00DFe\r\n"},
      {"add, LF, no final line end", u"1=a\n2=b", "3", "c", u"1=a\n2=b\n3=c\n"},
      {"add, lone CR line ends", u"1=a\r2=b\r", "3", "c", u"1=a\r2=b\r3=c\r"},
      {"add to an empty book", u"", "3", "c", u"3=c\n"},
      {"a longer number is another", u"55512345=x\n", "5551234", "y", u"55512345=x\n5551234=y\n"},
      {"the name may hold =", u"1=a\n", "1", "a=b", u"1=a=b\n"},
      {"the first = splits", u"1=a=b\n", "1", "c", u"1=c\n"},
      {"a blank line and a line without =", u"\n1\n1=a\n", "1", "b", u"\n1\n1=b\n"},
      {"the same name again", u"1=a\r\n", "1", "a", u"1=a\r\n"},
  };
  for (Form form : {Form::kUtf8, Form::kUtf8Mark, Form::kUtf16Le, Form::kUtf16Be}) {
    for (const Case& c : cases) {
      TempFolder folder;
      folder.Write("aon.db", InForm(c.before, form));
      EditOutcome outcome = SetBookName(folder / "aon.db", folder.Version("aon.db"), c.number, c.name);
      EXPECT_TRUE(outcome.ok) << FormName(form) << ", " << c.what << ": " << outcome.message;
      EXPECT_EQ(folder.Read("aon.db"), InForm(c.after, form)) << FormName(form) << ", " << c.what;
      EXPECT_EQ(folder.Names(), std::vector<std::string>{"aon.db"});
    }
  }
}

TEST(SetBookNameTest, CreatesAMissingBook) {
  TempFolder folder;
  EditOutcome outcome = SetBookName(folder / "aon.db", "none", "5551234", "Bob");
  EXPECT_TRUE(outcome.ok) << outcome.message;
  EXPECT_EQ(folder.Read("aon.db"), "5551234=Bob\n");
}

TEST(SetBookNameTest, RefusesWhatWouldBreakTheBook) {
  struct Case {
    const char* what;
    std::string before;
    std::string number;
    std::string name;
    std::string reason;  // a part of the message
  };
  const Case cases[] = {
      {"= in the number", "1=a\n", "1=2", "x", "only digits"},
      {"a blank in the number", "1=a\n", "1 2", "x", "only digits"},
      {"an empty number", "1=a\n", "", "x", "empty"},
      {"an empty name", "1=a\n", "1", "  ", "empty"},
      {"LF in the name", "1=a\n", "1", "a\n2=b", "line end"},
      {"CR in the name", "1=a\n", "1", "a\rb", "line end"},
      {"NUL in the name", "1=a\n", "1", std::string("a\0b", 3), "NUL"},
      {"C1 control in the name", "1=a\n", "1", "a\xC2\x85", "control"},
      {"invalid UTF-8", "1=a\n", "1", "\xE9t\xE9", "UTF-8"},
      {"a long name", "1=a\n", "1", std::string(201, 'n'), "longer"},
      {"a non-UTF-8 book and a name outside ASCII", "1=M\xFCller\n", "2", "J\xC3\xB6rg", "not UTF-8"},
      {"a NUL in the book", std::string("1=a\n\0002=b\n", 10), "3", "c", "NUL"},
      {"UTF-16 without a mark reads as bytes with NULs", std::string("1\0=\0a\0", 6), "3", "c", "NUL"},
      {"UTF-16 of an odd length", std::string("\xFF\xFE" "1\0=\0a\0\n", 9), "3", "c", "odd length"},
  };
  for (const Case& c : cases) {
    TempFolder folder;
    folder.Write("aon.db", c.before);
    EditOutcome outcome = SetBookName(folder / "aon.db", folder.Version("aon.db"), c.number, c.name);
    EXPECT_FALSE(outcome.ok) << c.what;
    EXPECT_NE(outcome.message.find(c.reason), std::string::npos) << c.what << ": " << outcome.message;
    EXPECT_EQ(folder.Read("aon.db"), c.before) << c.what;
    EXPECT_EQ(folder.Names(), std::vector<std::string>{"aon.db"}) << c.what;
  }
  // A name in ASCII still goes into a book that is not UTF-8.
  TempFolder folder;
  folder.Write("aon.db", "1=M\xFCller\n");
  EXPECT_TRUE(SetBookName(folder / "aon.db", folder.Version("aon.db"), "2", "Bob").ok);
  EXPECT_EQ(folder.Read("aon.db"), "1=M\xFCller\n2=Bob\n");
}

TEST(SetBookNameTest, AChangedBookIsRefused) {
  TempFolder folder;
  folder.Write("aon.db", "1=a\n");
  std::string shown = folder.Version("aon.db");
  folder.Write("aon.db", "1=b\n");
  EditOutcome outcome = SetBookName(folder / "aon.db", shown, "1", "c");
  EXPECT_FALSE(outcome.ok);
  EXPECT_NE(outcome.message.find("changed since the page was shown"), std::string::npos) << outcome.message;
  EXPECT_FALSE(RemoveBookLine(folder / "aon.db", shown, 1).ok);
  EXPECT_EQ(folder.Read("aon.db"), "1=b\n");
}

TEST(RemoveBookLineTest, RemovesOneLineInEveryEncoding) {
  struct Case {
    std::u16string before;
    int line;
    bool ok;
    std::u16string after;
  };
  const Case cases[] = {
      {u"1=a\r\n2=b\r\n3=c\r\n", 2, true, u"1=a\r\n3=c\r\n"},
      {u"1=a\n2=b", 2, true, u"1=a\n"},
      {u"1=a\r2=b\r", 1, true, u"2=b\r"},
      {u"note\n1=a\n", 1, false, u"note\n1=a\n"},
      {u"1=a\n", 2, false, u"1=a\n"},
      {u"1=a\n", -1, false, u"1=a\n"},
  };
  for (Form form : {Form::kUtf8, Form::kUtf8Mark, Form::kUtf16Le, Form::kUtf16Be}) {
    for (const Case& c : cases) {
      TempFolder folder;
      folder.Write("aon.db", InForm(c.before, form));
      EditOutcome outcome = RemoveBookLine(folder / "aon.db", folder.Version("aon.db"), c.line);
      EXPECT_EQ(outcome.ok, c.ok) << FormName(form) << ", line " << c.line << ": " << outcome.message;
      EXPECT_EQ(folder.Read("aon.db"), InForm(c.after, form)) << FormName(form) << ", line " << c.line;
    }
  }
}

TEST(ReadBookFileTest, ShowsTheEntriesAsUtf8) {
  const std::u16string text = u"# book\r\n5551234=Jos\u00E9\r\n\r\n+4930=\U0001F4DE=x\r\nno entry\r\n=empty number\r\n";
  for (Form form : {Form::kUtf8, Form::kUtf8Mark, Form::kUtf16Le, Form::kUtf16Be}) {
    TempFolder folder;
    folder.Write("aon.db", InForm(text, form));
    BookFileView view = ReadBookFile(folder / "aon.db");
    EXPECT_TRUE(view.exists) << FormName(form);
    EXPECT_EQ(view.error, "") << FormName(form);
    EXPECT_EQ(view.encoding, form == Form::kUtf8 ? "bytes" : FormName(form));
    EXPECT_EQ(view.version, folder.Version("aon.db"));
    ASSERT_EQ(view.entries.size(), 3u) << FormName(form);
    EXPECT_EQ(view.entries[0].line, 2);
    EXPECT_EQ(view.entries[0].number, "5551234");
    EXPECT_EQ(view.entries[0].name, "Jos\xC3\xA9");
    EXPECT_EQ(view.entries[1].line, 4);
    EXPECT_EQ(view.entries[1].number, "+4930");
    EXPECT_EQ(view.entries[1].name, "\xF0\x9F\x93\x9E=x");
    EXPECT_EQ(view.entries[2].line, 6);
    EXPECT_EQ(view.entries[2].number, "");
  }
}

TEST(ReadBookFileTest, ShowsBrokenTextReplacedAndStopsAtANul) {
  struct Case {
    const char* what;
    std::string bytes;
    std::vector<std::string> shown;  // number|name of each entry
  };
  const Case cases[] = {
      {"single-byte text", "1=M\xFCller\n2=\x1b[31m\n", {"1|M\xEF\xBF\xBDller", "2|\xEF\xBF\xBD[31m"}},
      {"a NUL ends the text", std::string("1=a\n2=b\0\n3=c\n", 13), {"1|a", "2|b"}},
      {"a lone surrogate in UTF-16", std::string("\xFF\xFE" "1\0=\0\x00\xD8x\0", 10), {"1|\xEF\xBF\xBDx"}},
      {"an odd byte at the end of UTF-16", std::string("\xFE\xFF\0" "1\0=\0a\0", 9), {"1|a"}},
  };
  for (const Case& c : cases) {
    TempFolder folder;
    folder.Write("aon.db", c.bytes);
    BookFileView view = ReadBookFile(folder / "aon.db");
    std::vector<std::string> shown;
    for (const BookEntryView& entry : view.entries) shown.push_back(entry.number + "|" + entry.name);
    EXPECT_EQ(shown, c.shown) << c.what;
  }
}

}  // namespace
}  // namespace annc
