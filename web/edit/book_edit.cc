#include "web/edit/book_edit.h"

#include "web/edit/edit_values.h"

namespace annc {

namespace {

enum class BookEncoding { kBytes, kUtf8Mark, kUtf16Le, kUtf16Be };

struct LineSpan {
  std::size_t start = 0;
  std::size_t end = 0;   // before its line end
  std::size_t next = 0;  // after it; end for a last line without one
};

// How a book's bytes are laid out in lines.
struct BookLayout {
  BookEncoding encoding = BookEncoding::kBytes;
  std::size_t unit = 1;       // bytes per code unit
  std::size_t textStart = 0;  // after the byte-order mark
  std::size_t textEnd = 0;    // the first NUL, or the end (of whole units)
  bool hasNul = false;
  std::vector<LineSpan> lines;
  std::string lineEnd;  // the first line's, as bytes of the file
};

unsigned UnitAt(std::string_view bytes, std::size_t i, BookEncoding encoding) {
  auto byte = [&](std::size_t k) { return static_cast<unsigned>(static_cast<unsigned char>(bytes[k])); };
  switch (encoding) {
    case BookEncoding::kUtf16Le: return byte(i) | byte(i + 1) << 8;
    case BookEncoding::kUtf16Be: return byte(i) << 8 | byte(i + 1);
    default: return byte(i);
  }
}

BookLayout LayOut(std::string_view bytes) {
  BookLayout layout;
  if (bytes.starts_with("\xEF\xBB\xBF")) {
    layout.encoding = BookEncoding::kUtf8Mark;
    layout.textStart = 3;
  } else if (bytes.starts_with("\xFF\xFE") || bytes.starts_with("\xFE\xFF")) {
    layout.encoding = bytes[0] == '\xFF' ? BookEncoding::kUtf16Le : BookEncoding::kUtf16Be;
    layout.unit = 2;
    layout.textStart = 2;
  }
  const std::size_t u = layout.unit;
  std::size_t limit = bytes.size() - (bytes.size() - layout.textStart) % u;
  std::size_t start = layout.textStart;
  std::size_t i = start;
  while (i < limit) {
    unsigned c = UnitAt(bytes, i, layout.encoding);
    if (c == 0) {
      layout.hasNul = true;
      limit = i;
      break;
    }
    if (c != '\r' && c != '\n') {
      i += u;
      continue;
    }
    std::size_t end = i;
    i += u;
    if (c == '\r' && i < limit && UnitAt(bytes, i, layout.encoding) == '\n') i += u;
    if (layout.lineEnd.empty()) layout.lineEnd = bytes.substr(end, i - end);
    layout.lines.push_back(LineSpan{start, end, i});
    start = i;
  }
  if (start < limit) layout.lines.push_back(LineSpan{start, limit, limit});
  layout.textEnd = limit;
  return layout;
}

void AppendUtf8(char32_t code, std::string* out) {
  if (code < 0x80) {
    *out += static_cast<char>(code);
  } else if (code < 0x800) {
    *out += static_cast<char>(0xC0 | code >> 6);
    *out += static_cast<char>(0x80 | (code & 0x3F));
  } else if (code < 0x10000) {
    *out += static_cast<char>(0xE0 | code >> 12);
    *out += static_cast<char>(0x80 | (code >> 6 & 0x3F));
    *out += static_cast<char>(0x80 | (code & 0x3F));
  } else {
    *out += static_cast<char>(0xF0 | code >> 18);
    *out += static_cast<char>(0x80 | (code >> 12 & 0x3F));
    *out += static_cast<char>(0x80 | (code >> 6 & 0x3F));
    *out += static_cast<char>(0x80 | (code & 0x3F));
  }
}

// The file's bytes [from, to) as UTF-8 for the page.
std::string Shown(std::string_view bytes, std::size_t from, std::size_t to, const BookLayout& layout) {
  if (layout.unit == 1) return ShownText(bytes.substr(from, to - from));
  std::string utf8;
  for (std::size_t i = from; i < to; i += 2) {
    char32_t unit = UnitAt(bytes, i, layout.encoding);
    if (unit >= 0xD800 && unit <= 0xDBFF && i + 2 < to) {
      char32_t low = UnitAt(bytes, i + 2, layout.encoding);
      if (low >= 0xDC00 && low <= 0xDFFF) {
        AppendUtf8(0x10000 + ((unit - 0xD800) << 10) + (low - 0xDC00), &utf8);
        i += 2;
        continue;
      }
    }
    AppendUtf8(unit >= 0xD800 && unit <= 0xDFFF ? 0xFFFD : unit, &utf8);
  }
  return ShownText(utf8);
}

// Well-formed UTF-8 (checked before) in the file's encoding.
std::string Encoded(std::string_view utf8, const BookLayout& layout) {
  if (layout.unit == 1) return std::string(utf8);
  std::string out;
  auto put = [&](unsigned unit) {
    char high = static_cast<char>(unit >> 8);
    char low = static_cast<char>(unit & 0xFF);
    if (layout.encoding == BookEncoding::kUtf16Le) {
      out += low;
      out += high;
    } else {
      out += high;
      out += low;
    }
  };
  for (std::size_t i = 0; i < utf8.size();) {
    unsigned char lead = static_cast<unsigned char>(utf8[i]);
    std::size_t length = lead < 0x80 ? 1 : lead < 0xE0 ? 2 : lead < 0xF0 ? 3 : 4;
    char32_t code = length == 1 ? lead : length == 2 ? lead & 0x1F : length == 3 ? lead & 0x0F : lead & 0x07;
    for (std::size_t k = 1; k < length && i + k < utf8.size(); ++k) code = code << 6 | (utf8[i + k] & 0x3F);
    i += length;
    if (code >= 0x10000) {
      code -= 0x10000;
      put(0xD800 + (code >> 10));
      put(0xDC00 + (code & 0x3FF));
    } else {
      put(code);
    }
  }
  return out;
}

// Where the line's first "=" starts, npos when it has none.
std::size_t EqualsAt(std::string_view bytes, const LineSpan& line, const BookLayout& layout) {
  for (std::size_t i = line.start; i < line.end; i += layout.unit) {
    if (UnitAt(bytes, i, layout.encoding) == '=') return i;
  }
  return std::string_view::npos;
}

std::string EncodingName(BookEncoding encoding) {
  switch (encoding) {
    case BookEncoding::kUtf8Mark: return "UTF-8 with mark";
    case BookEncoding::kUtf16Le: return "UTF-16LE";
    case BookEncoding::kUtf16Be: return "UTF-16BE";
    default: return "bytes";
  }
}

bool IsAscii(std::string_view text) {
  for (char c : text) {
    if (static_cast<unsigned char>(c) >= 0x80) return false;
  }
  return true;
}

std::string LineName(const std::string& path, std::size_t line) { return path + " line " + std::to_string(line); }

}  // namespace

BookFileView ReadBookFile(const std::string& path) {
  FileSnapshot file = ReadSnapshot(path, kMaxBookBytes);
  BookFileView view;
  view.path = path;
  view.version = file.version;
  view.exists = file.exists;
  view.error = OneLine(file.error);
  if (!file.error.empty()) return view;
  BookLayout layout = LayOut(file.bytes);
  view.encoding = EncodingName(layout.encoding);
  for (std::size_t i = 0; i < layout.lines.size(); ++i) {
    const LineSpan& line = layout.lines[i];
    std::size_t eq = EqualsAt(file.bytes, line, layout);
    if (eq == std::string_view::npos) continue;
    view.entries.push_back(BookEntryView{static_cast<int>(i + 1), Shown(file.bytes, line.start, eq, layout),
                                         Shown(file.bytes, eq + layout.unit, line.end, layout)});
  }
  return view;
}

EditOutcome SetBookName(const std::string& path, std::string_view version, std::string_view number,
                        std::string_view name) {
  number = TrimSpaces(number);
  name = TrimSpaces(name);
  if (std::string why = NumberProblem(number); !why.empty()) return EditOutcome{false, why};
  if (std::string why = TextProblem(name, "the name", false); !why.empty()) return EditOutcome{false, why};
  return EditFile(path, version, kMaxBookBytes, [&](const FileSnapshot& file, std::string* bytes) {
    const std::string& old = file.bytes;
    BookLayout layout = LayOut(old);
    if (layout.hasNul) {
      return EditOutcome{false, path + " holds a NUL character, after which annc reads nothing; edit it by hand"};
    }
    if ((old.size() - layout.textStart) % layout.unit != 0) {
      return EditOutcome{false, path + " is UTF-16 of an odd length; edit it by hand"};
    }
    if (layout.encoding == BookEncoding::kBytes && !IsAscii(name) && !IsUtf8(old)) {
      return EditOutcome{false, path + " is not UTF-8, so the name may hold only ASCII characters"};
    }
    const std::string encodedName = Encoded(name, layout);
    for (std::size_t i = 0; i < layout.lines.size(); ++i) {
      const LineSpan& line = layout.lines[i];
      std::size_t eq = EqualsAt(old, line, layout);
      if (eq == std::string_view::npos || Shown(old, line.start, eq, layout) != number) continue;
      std::size_t from = eq + layout.unit;
      if (old.compare(from, line.end - from, encodedName) == 0) {
        return EditOutcome{true, LineName(path, i + 1) + " already names " + std::string(number) + " so"};
      }
      *bytes = old.substr(0, from) + encodedName + old.substr(line.end);
      return EditOutcome{true, LineName(path, i + 1) + " changed: " + std::string(number) + "=" + std::string(name)};
    }
    std::string lineEnd = layout.lineEnd.empty() ? Encoded("\n", layout) : layout.lineEnd;
    std::string text = old;
    if (!layout.lines.empty() && layout.lines.back().next == layout.lines.back().end) text += lineEnd;
    text += Encoded(std::string(number) + "=" + std::string(name), layout) + lineEnd;
    if (text.size() > kMaxBookBytes) return EditOutcome{false, path + ": the phone book would grow too large"};
    *bytes = std::move(text);
    return EditOutcome{true, LineName(path, layout.lines.size() + 1) + " added: " + std::string(number) + "=" +
                                 std::string(name)};
  });
}

EditOutcome RemoveBookLine(const std::string& path, std::string_view version, int line) {
  return EditFile(path, version, kMaxBookBytes, [&](const FileSnapshot& file, std::string* bytes) {
    BookLayout layout = LayOut(file.bytes);
    if (line < 1 || static_cast<std::size_t>(line) > layout.lines.size()) {
      return EditOutcome{false, path + " has no line " + std::to_string(line)};
    }
    const LineSpan& span = layout.lines[static_cast<std::size_t>(line) - 1];
    if (EqualsAt(file.bytes, span, layout) == std::string_view::npos) {
      return EditOutcome{false, LineName(path, static_cast<std::size_t>(line)) + " holds no entry"};
    }
    std::string removed = Shown(file.bytes, span.start, span.end, layout);
    *bytes = file.bytes.substr(0, span.start) + file.bytes.substr(span.next);
    return EditOutcome{true, LineName(path, static_cast<std::size_t>(line)) + " removed: " + removed};
  });
}

}  // namespace annc
