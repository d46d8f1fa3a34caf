#include "web/html/document.h"

#include <gtest/gtest.h>
#include <libxml/HTMLparser.h>
#include <libxml/tree.h>

#include "web/html/page_frame.h"

namespace annc::web {
namespace {

// The served text parsed back as a browser would, for what it holds.
class Parsed {
 public:
  explicit Parsed(const std::string& html) {
    doc_ = htmlReadMemory(html.data(), static_cast<int>(html.size()), nullptr, "UTF-8",
                          HTML_PARSE_NOERROR | HTML_PARSE_NOWARNING | HTML_PARSE_NONET);
  }
  ~Parsed() { xmlFreeDoc(doc_); }
  // How many elements `tag` there are, and how many attributes `name`.
  int Elements(const char* tag) const { return Count(xmlDocGetRootElement(doc_), tag, nullptr); }
  int Attributes(const char* name) const { return Count(xmlDocGetRootElement(doc_), nullptr, name); }
  // The text of the first element `tag` with the attribute id="id".
  std::string TextOf(const char* id) const { return Find(xmlDocGetRootElement(doc_), id); }

 private:
  static int Count(xmlNodePtr node, const char* tag, const char* attribute) {
    int count = 0;
    for (; node != nullptr; node = node->next) {
      if (node->type != XML_ELEMENT_NODE) continue;
      if (tag != nullptr && xmlStrcasecmp(node->name, BAD_CAST tag) == 0) ++count;
      for (xmlAttrPtr a = node->properties; attribute != nullptr && a != nullptr; a = a->next) {
        if (xmlStrcasecmp(a->name, BAD_CAST attribute) == 0) ++count;
      }
      count += Count(node->children, tag, attribute);
    }
    return count;
  }
  static std::string Find(xmlNodePtr node, const char* id) {
    for (; node != nullptr; node = node->next) {
      if (node->type != XML_ELEMENT_NODE) continue;
      xmlChar* value = xmlGetProp(node, BAD_CAST "id");
      bool match = value != nullptr && xmlStrcmp(value, BAD_CAST id) == 0;
      xmlFree(value);
      if (match) {
        xmlChar* text = xmlNodeGetContent(node);
        std::string out = reinterpret_cast<const char*>(text);
        xmlFree(text);
        return out;
      }
      std::string inner = Find(node->children, id);
      if (!inner.empty()) return inner;
    }
    return "";
  }
  xmlDocPtr doc_;
};

TEST(DocumentTest, HostileTextStaysText) {
  const char* hostile[] = {
      "<script>alert(1)</script>",
      "\"><img src=x onerror=alert(1)>",
      "'><svg onload=alert(1)>",
      "\"'><img src=x onerror=alert(1)>",
      "</td></tr></table><iframe src=//x>",
      "&lt;script&gt; &amp; <!-- -->",
      "]]><b>bold</b>",
  };
  for (const char* text : hostile) {
    Document document("Calls");
    Element& body = document.body();
    body.AddText("p", text).Attr("id", "text");
    body.Add("a").Attr("id", "link").Attr("title", text).Attr("href", std::string("/caller?number=") + text);
    body.Add("input").Attr("value", text);
    std::string html = document.Serialize();
    Parsed parsed(html);
    SCOPED_TRACE(html);
    EXPECT_EQ(parsed.TextOf("text"), text);
    for (const char* tag : {"script", "img", "svg", "iframe", "b"}) EXPECT_EQ(parsed.Elements(tag), 0) << tag;
    for (const char* name : {"onerror", "onload", "src"}) EXPECT_EQ(parsed.Attributes(name), 0) << name;
    EXPECT_EQ(parsed.Elements("p"), 1);
    EXPECT_EQ(parsed.Elements("input"), 1);
  }
}

TEST(DocumentTest, TitleAndNonAsciiText) {
  Document document("Anrufe <heute>");
  document.body().AddText("p", "Jürgen Müller 日本").Attr("id", "name");
  std::string html = document.Serialize();
  Parsed parsed(html);
  EXPECT_EQ(parsed.TextOf("name"), "Jürgen Müller 日本");
  EXPECT_EQ(html.rfind("<!DOCTYPE html>", 0), 0u) << html;
  EXPECT_NE(html.find("<title>Anrufe &lt;heute&gt;</title>"), std::string::npos) << html;
  EXPECT_EQ(parsed.Elements("heute"), 0);
}

TEST(DocumentTest, TagNamesFromOutsideAreNoMarkup) {
  Document document("x");
  document.body().Add("img src=x onerror=alert(1)").Attr("on error", "x");
  Parsed parsed(document.Serialize());
  EXPECT_EQ(parsed.Elements("img"), 0);
  EXPECT_EQ(parsed.Attributes("onerror"), 0);
}

TEST(CleanTextTest, Table) {
  struct Case {
    std::string in;
    std::size_t max;
    std::string out;
  } cases[] = {
      {"Ann Lee", 100, "Ann Lee"},
      {"tab\tand\nline", 100, "tab\tand\nline"},
      {std::string("nul\0bell\a esc\x1b del\x7f", 20), 100, "nulbell esc del"},
      {"M\xc3\xbcller", 100, "M\xc3\xbcller"},
      {"bad \xff byte", 100, "bad \xef\xbf\xbd byte"},
      {"cut \xc3", 100, "cut \xef\xbf\xbd"},
      {"overlong \xc0\xaf", 100, "overlong \xef\xbf\xbd\xef\xbf\xbd"},
      {"surrogate \xed\xa0\x80", 100, "surrogate \xef\xbf\xbd\xef\xbf\xbd\xef\xbf\xbd"},
      {"c1 \xc2\x85 gone", 100, "c1  gone"},
      {"abcdef", 3, "abc"},
      {"\xc3\xbc\xc3\xbc", 3, "\xc3\xbc"},
  };
  for (const Case& c : cases) EXPECT_EQ(CleanText(c.in, c.max), c.out) << c.in;
}

TEST(PageFrameTest, FormsCarryTheToken) {
  FrameContext context;
  context.token = "abc\"><script>";
  context.path = "/";
  context.loginOn = true;
  Page page("Calls", context);
  AddPostForm(page.main(), "/caller/block", context.token).Attr("id", "form");
  std::string html = page.Serialize();
  Parsed parsed(html);
  EXPECT_EQ(parsed.Elements("form"), 2) << html;  // the one added and the frame's logout
  EXPECT_EQ(parsed.Elements("script"), 0) << html;
  EXPECT_NE(html.find("<link rel=\"stylesheet\" href=\"/style.css\">"), std::string::npos) << html;
  // A value with a double quote is written in single quotes.
  EXPECT_NE(html.find("name=\"token\" value='abc\"&gt;&lt;script&gt;'"), std::string::npos) << html;
  EXPECT_NE(html.find("aria-current=\"page\""), std::string::npos) << html;
}

}  // namespace
}  // namespace annc::web

namespace annc::web {
namespace {

TEST(AddXmlTest, ImportsAWellFormedElementAndRefusesTheRest) {
  Document document("Chart");
  ASSERT_TRUE(document.body().AddXml(
      "<svg xmlns=\"http://www.w3.org/2000/svg\"><g class=\"day\"><title>a &lt;b&gt;</title><rect class=\"block\"/>"
      "</g></svg>"));
  std::string page = document.Serialize();
  EXPECT_NE(page.find("<svg xmlns=\"http://www.w3.org/2000/svg\"><g class=\"day\"><title>a &lt;b&gt;</title>"),
            std::string::npos)
      << page;
  EXPECT_NE(page.find("<rect class=\"block\">"), std::string::npos) << page;

  Document refused("Chart");
  EXPECT_FALSE(refused.body().AddXml("<svg><g></svg>"));
  EXPECT_FALSE(refused.body().AddXml(""));
  // An external entity is neither fetched nor expanded.
  EXPECT_FALSE(refused.body().AddXml("<!DOCTYPE s [<!ENTITY x SYSTEM \"file:///etc/passwd\">]><svg>&x;</svg>") &&
               refused.Serialize().find("root:") != std::string::npos);
}

}  // namespace
}  // namespace annc::web
