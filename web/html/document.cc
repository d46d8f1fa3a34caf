#include "web/html/document.h"

#include <libxml/HTMLtree.h>
#include <libxml/parser.h>
#include <libxml/tree.h>

#include <algorithm>

namespace annc::web {
namespace {

const xmlChar* X(const std::string& text) { return reinterpret_cast<const xmlChar*>(text.c_str()); }

// Tag and attribute names come from this program, never from outside; a
// name that is no plain lower-case word is a mistake here and is replaced
// so that it cannot become markup either.
std::string Name(std::string_view name) {
  if (name.empty() || name.size() > 32) return "invalid";
  for (char c : name) {
    if (!((c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-')) return "invalid";
  }
  return std::string(name);
}

}  // namespace

// Elements live in the nodes' _private pointers, owned by the document and
// freed with it (see ~Document).
Element* Element::Wrap(xmlNodePtr node) {
  auto* element = new Element(node);
  node->_private = element;
  return element;
}

namespace {
void FreeWrappers(xmlNodePtr node) {
  for (; node != nullptr; node = node->next) {
    if (node->type == XML_ELEMENT_NODE) {
      delete static_cast<Element*>(node->_private);
      node->_private = nullptr;
      FreeWrappers(node->children);
    }
  }
}
}  // namespace

std::string CleanText(std::string_view text, std::size_t maxBytes) {
  std::string out;
  out.reserve(std::min(text.size(), maxBytes));
  std::size_t i = 0;
  while (i < text.size()) {
    auto c = static_cast<unsigned char>(text[i]);
    std::size_t length = 0;
    char32_t code = 0;
    if (c < 0x80) {
      length = 1;
      code = c;
    } else if ((c & 0xe0) == 0xc0) {
      length = 2;
      code = c & 0x1f;
    } else if ((c & 0xf0) == 0xe0) {
      length = 3;
      code = c & 0x0f;
    } else if ((c & 0xf8) == 0xf0) {
      length = 4;
      code = c & 0x07;
    }
    bool valid = length > 0 && i + length <= text.size();
    for (std::size_t k = 1; valid && k < length; ++k) {
      auto next = static_cast<unsigned char>(text[i + k]);
      if ((next & 0xc0) != 0x80) valid = false;
      code = (code << 6) | (next & 0x3f);
    }
    // Overlong forms, surrogates and code points past Unicode's end are no
    // UTF-8 either.
    if (valid && ((length == 2 && code < 0x80) || (length == 3 && code < 0x800) || (length == 4 && code < 0x10000) ||
                  (code >= 0xd800 && code <= 0xdfff) || code > 0x10ffff)) {
      valid = false;
    }
    std::string_view piece = valid ? text.substr(i, length) : std::string_view("\xef\xbf\xbd");
    i += valid ? length : 1;
    bool control = valid && (code < 0x20 || code == 0x7f || (code >= 0x80 && code < 0xa0)) && code != '\t' &&
                   code != '\n';
    if (control) continue;
    if (out.size() + piece.size() > maxBytes) break;
    out.append(piece);
  }
  return out;
}

Element& Element::Add(std::string_view tag) {
  std::string name = Name(tag);
  xmlNodePtr child = xmlNewDocNode(node_->doc, nullptr, X(name), nullptr);
  xmlAddChild(node_, child);
  return *Wrap(child);
}

Element& Element::Text(std::string_view text) {
  // xmlNewDocTextLen keeps the text as it is; the serializer escapes it.
  std::string clean = CleanText(text, 1 << 20);
  xmlNodePtr node = xmlNewDocTextLen(node_->doc, X(clean), static_cast<int>(clean.size()));
  xmlAddChild(node_, node);
  return *this;
}

Element& Element::Attr(std::string_view name, std::string_view value) {
  std::string key = Name(name);
  std::string clean = CleanText(value, 1 << 16);
  // xmlSetProp keeps the value as a text node: escaped on output.
  xmlSetProp(node_, X(key), X(clean));
  return *this;
}

bool Element::AddXml(std::string_view xml) {
  if (xml.size() > (1u << 24)) return false;
  xmlDocPtr parsed = xmlReadMemory(xml.data(), static_cast<int>(xml.size()), nullptr, "UTF-8",
                                   XML_PARSE_NONET | XML_PARSE_NOERROR | XML_PARSE_NOWARNING);
  if (parsed == nullptr) return false;
  xmlNodePtr root = xmlDocGetRootElement(parsed);
  xmlNodePtr copy = root == nullptr ? nullptr : xmlDocCopyNode(root, node_->doc, 1);
  xmlFreeDoc(parsed);
  if (copy == nullptr) return false;
  xmlAddChild(node_, copy);
  return true;
}

Element& Element::AddText(std::string_view tag, std::string_view text) {
  Element& child = Add(tag);
  child.Text(text);
  return child;
}

Document::Document(std::string_view title) {
  doc_ = htmlNewDocNoDtD(nullptr, nullptr);
  xmlCreateIntSubset(doc_, X("html"), nullptr, nullptr);
  xmlNodePtr html = xmlNewDocNode(doc_, nullptr, X("html"), nullptr);
  xmlDocSetRootElement(doc_, html);
  Element* root = Element::Wrap(html);
  root->Attr("lang", "en");
  head_ = &root->Add("head");
  head_->Add("meta").Attr("charset", "utf-8");
  head_->Add("meta").Attr("name", "viewport").Attr("content", "width=device-width, initial-scale=1");
  head_->AddText("title", title);
  body_ = &root->Add("body");
}

Document::~Document() {
  FreeWrappers(xmlDocGetRootElement(doc_));
  xmlFreeDoc(doc_);
}

std::string Document::Serialize() const {
  xmlChar* text = nullptr;
  int size = 0;
  htmlDocDumpMemoryFormat(doc_, &text, &size, 1);
  std::string out;
  if (text != nullptr) {
    out.assign(reinterpret_cast<const char*>(text), static_cast<std::size_t>(size));
    xmlFree(text);
  }
  return out;
}

}  // namespace annc::web
