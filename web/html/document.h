// HTML pages built as libxml2 document trees: every text and attribute value
// goes into the tree as it is and libxml2's serializer escapes it, so a
// caller's name or a list's label can never become markup.
#ifndef ANNC_WEB_HTML_DOCUMENT_H_
#define ANNC_WEB_HTML_DOCUMENT_H_

#include <memory>
#include <string>
#include <string_view>

struct _xmlDoc;
struct _xmlNode;

namespace annc::web {

// One element of a Document. Elements belong to their document and live as
// long as it does; they are handed out by reference only.
class Element {
 public:
  // A new child element `tag` at the end of this one's children.
  Element& Add(std::string_view tag);
  // Appends text; it shows as it is, whatever it holds.
  Element& Text(std::string_view text);
  // Sets the attribute `name` to `value` (shown as it is).
  Element& Attr(std::string_view name, std::string_view value);
  // Shorthands: a child `tag` holding `text`, and a class attribute.
  Element& AddText(std::string_view tag, std::string_view text);
  Element& Class(std::string_view name) { return Attr("class", name); }
  // Parses `xml` (a standalone element such as an <svg> drawn by this
  // program) without network or entity expansion and appends a copy of its
  // root element. False, with nothing added, when it is not well formed.
  bool AddXml(std::string_view xml);

 private:
  friend class Document;
  explicit Element(_xmlNode* node) : node_(node) {}
  // The element of a new node, kept with the node and freed with the
  // document.
  static Element* Wrap(_xmlNode* node);
  _xmlNode* node_;
};

class Document {
 public:
  // An HTML document with a <head> holding the title and an empty <body>.
  explicit Document(std::string_view title);
  ~Document();
  Document(const Document&) = delete;
  Document& operator=(const Document&) = delete;

  Element& head() { return *head_; }
  Element& body() { return *body_; }
  // The page as UTF-8 text, with its doctype.
  std::string Serialize() const;

 private:
  friend class Element;
  _xmlDoc* doc_;
  Element* head_;
  Element* body_;
};

// Text made safe to put in a document: invalid UTF-8 becomes U+FFFD and the
// control characters but tab and newline are dropped (libxml2 refuses
// both). The length is bounded to `maxBytes`, cut at a character boundary.
std::string CleanText(std::string_view text, std::size_t maxBytes = 4096);

}  // namespace annc::web

#endif  // ANNC_WEB_HTML_DOCUMENT_H_
