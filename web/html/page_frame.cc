#include "web/html/page_frame.h"

namespace annc::web {

const NavEntry kNavigation[] = {
    {"/", "Calls"},
    {"/lists", "Lists"},
    {"/stats", "Statistics"},
};
const std::size_t kNavigationSize = sizeof(kNavigation) / sizeof(kNavigation[0]);

Page::Page(std::string_view title, const FrameContext& context) : document_(std::string(title) + " - annc") {
  Element& head = document_.head();
  head.Add("link").Attr("rel", "stylesheet").Attr("href", "/style.css");
  if (context.liveScript) head.Add("script").Attr("src", "/live.js").Attr("defer", "defer");
  Element& header = document_.body().Add("header");
  Element& nav = header.Add("nav");
  for (std::size_t i = 0; i < kNavigationSize; ++i) {
    Element& link = nav.AddText("a", kNavigation[i].label).Attr("href", kNavigation[i].path);
    if (context.path == kNavigation[i].path) link.Attr("aria-current", "page");
  }
  if (context.loginOn) {
    Element& form = AddPostForm(header, "/logout", context.token);
    form.Class("logout");
    form.AddText("button", "Log out").Attr("type", "submit");
  }
  main_ = &document_.body().Add("main");
  main_->AddText("h1", title);
}

Element& AddPostForm(Element& parent, std::string_view action, std::string_view token) {
  Element& form = parent.Add("form").Attr("method", "post").Attr("action", action);
  form.Add("input").Attr("type", "hidden").Attr("name", "token").Attr("value", token);
  return form;
}

std::string MessagePage(std::string_view title, std::string_view sentence) {
  Document document(title);
  document.head().Add("link").Attr("rel", "stylesheet").Attr("href", "/style.css");
  Element& main = document.body().Add("main");
  main.AddText("h1", title);
  main.AddText("p", sentence);
  return document.Serialize();
}

}  // namespace annc::web
