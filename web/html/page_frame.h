// The frame every page of annc-web shares: the style sheet, the navigation
// and the main part a page fills; and the POST forms that carry the
// session's token.
#ifndef ANNC_WEB_HTML_PAGE_FRAME_H_
#define ANNC_WEB_HTML_PAGE_FRAME_H_

#include <string>
#include <string_view>

#include "web/html/document.h"

namespace annc::web {

// What the frame needs to know of the request.
struct FrameContext {
  // The session's token, put in every POST form.
  std::string token;
  // The path of the page, to mark its entry in the navigation.
  std::string path;
  // Whether the login is on: the frame then offers to log out.
  bool loginOn = false;
  // Whether the page wants the live view's script.
  bool liveScript = false;
};

// The pages in the navigation, in order. A new page adds its entry here.
struct NavEntry {
  std::string_view path;
  std::string_view label;
};
extern const NavEntry kNavigation[];
extern const std::size_t kNavigationSize;

class Page {
 public:
  Page(std::string_view title, const FrameContext& context);
  // Where the page puts its content (<main>, under the heading).
  Element& main() { return *main_; }
  Document& document() { return document_; }
  std::string Serialize() const { return document_.Serialize(); }

 private:
  Document document_;
  Element* main_;
};

// A form that POSTs to `action` with the session's token as a hidden field
// named "token"; the caller adds the fields and the button.
Element& AddPostForm(Element& parent, std::string_view action, std::string_view token);

// A page with only a heading and a sentence, for errors (404, 403 and the
// like), which are shown without the navigation.
std::string MessagePage(std::string_view title, std::string_view sentence);

}  // namespace annc::web

#endif  // ANNC_WEB_HTML_PAGE_FRAME_H_
