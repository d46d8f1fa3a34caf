// The pages that change the block and allow lists and the phone book: the
// caller page's four actions and the lists page with its own forms.
#include <string>
#include <vector>

#include "web/edit/book_edit.h"
#include "web/edit/edit_values.h"
#include "web/edit/list_edit.h"
#include "web/page_parts.h"

namespace annc::web {
namespace {

// The marker of the line EditFile and UnblockNumber refuse a change with
// when the file is no longer the one the form was made from.
constexpr std::string_view kChangedOnDisk = "the file changed since the page was shown";

// The caller page the actions go back to.
std::string CallerPath(const Request& request) { return WithQuery("/caller", {{"number", request.Field("number")}}); }

Response NotGiven(const char* what) {
  // The route exists; the file it would change was not given to annc-web.
  return Response::Message(501, std::string("No ") + what + " was given to annc-web, so it cannot be changed here.");
}

Response CallerAction(Request& request, WebContext& context, const EditOutcome& outcome) {
  return AfterChange(request, outcome, CallerPath(request), [&](int status, const PageNotice& notice) {
    return CallerPage(request, context, status, notice);
  });
}

Response Block(Request& request, WebContext& context) {
  if (context.blockFiles.empty()) return NotGiven("block list");
  return CallerAction(request, context,
                      BlockNumber(context.blockFiles[0], request.Field("version"), request.Field("number"),
                                  request.Field("label")));
}

Response Allow(Request& request, WebContext& context) {
  if (context.allowFiles.empty()) return NotGiven("allow list");
  return CallerAction(request, context,
                      AllowNumber(context.allowFiles[0], request.Field("version"), request.Field("number")));
}

Response Unblock(Request& request, WebContext& context) {
  if (context.blockFiles.empty()) return NotGiven("block list");
  std::vector<std::string> versions;
  for (std::size_t i = 0; i < context.blockFiles.size(); ++i) {
    versions.push_back(request.Field("version" + std::to_string(i)));
  }
  return CallerAction(request, context, UnblockNumber(context.blockFiles, versions, request.Field("number")));
}

Response Name(Request& request, WebContext& context) {
  if (context.bookFile.empty()) return NotGiven("phone book");
  return CallerAction(request, context,
                      SetBookName(context.bookFile, request.Field("version"), request.Field("number"),
                                  request.Field("name")));
}

// One list of the lists page: "block" or "allow" and its place among them.
struct ListRef {
  std::string kind;
  std::size_t index = 0;
  const std::string* path = nullptr;
};

// The list a form names with "list" (block0, allow1, ...); null path when
// it names none.
ListRef FindList(const WebContext& context, const std::string& name) {
  ListRef ref;
  for (const auto& [kind, files] : {std::pair<std::string, const std::vector<std::string>*>{"block", &context.blockFiles},
                                    std::pair<std::string, const std::vector<std::string>*>{"allow", &context.allowFiles}}) {
    if (name.size() <= kind.size() || name.size() > kind.size() + 3 || name.compare(0, kind.size(), kind) != 0) {
      continue;
    }
    std::size_t index = 0;
    bool digits = true;
    for (char c : name.substr(kind.size())) {
      if (c < '0' || c > '9') digits = false;
      index = index * 10 + static_cast<std::size_t>(c - '0');
    }
    if (!digits || index >= files->size()) continue;
    ref.kind = kind;
    ref.index = index;
    ref.path = &(*files)[index];
  }
  return ref;
}

// A line number from a form: 1 to a million, else 0.
int LineNumber(const std::string& text) {
  if (text.empty() || text.size() > 7) return 0;
  int line = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return 0;
    line = line * 10 + (c - '0');
  }
  return line;
}

void AddHidden(Element& form, const std::string& name, const std::string& value) {
  form.Add("input").Attr("type", "hidden").Attr("name", name).Attr("value", value);
}

void AddTextInput(Element& form, const char* label, const char* name, std::size_t maxLength) {
  form.AddText("label", label)
      .Add("input")
      .Attr("type", "text")
      .Attr("name", name)
      .Attr("maxlength", std::to_string(maxLength))
      .Attr("required", "required");
}

void AddListSection(Element& main, const std::string& token, const ListRef& ref) {
  ListFileView view = ReadListFile(*ref.path);
  std::string id = ref.kind + std::to_string(ref.index);
  Element& section = main.Add("section").Attr("id", id);
  section.AddText("h2", (ref.kind == "block" ? "Block list " : "Allow list ") + *ref.path);
  if (!view.error.empty()) {
    section.AddText("p", "The list cannot be read: " + view.error).Class("error");
    return;
  }
  if (!view.exists) section.AddText("p", "The file does not exist yet; an entry added here creates it.");
  Element& table = section.Add("table").Class("list").Attr("data-list", id);
  Element& head = table.Add("thead").Add("tr");
  for (const char* title : {"Line", "Expressions", "Label", ""}) head.AddText("th", title);
  Element& body = table.Add("tbody");
  for (const ListEntryView& entry : view.entries) {
    Element& row = body.Add("tr").Class("entry");
    row.AddText("td", std::to_string(entry.line)).Class("line");
    row.AddText("td", entry.expressions).Class("expressions");
    row.AddText("td", entry.label).Class("label");
    Element& remove = AddPostForm(row.Add("td"), "/lists/remove", token);
    AddHidden(remove, "list", id);
    AddHidden(remove, "line", std::to_string(entry.line));
    AddHidden(remove, "version", view.version);
    remove.AddText("button", "Remove").Attr("type", "submit");
  }
  Element& add = AddPostForm(section, "/lists/add", token).Class("action");
  AddHidden(add, "list", id);
  AddHidden(add, "version", view.version);
  AddTextInput(add, "Expressions ", "expressions", kMaxValueBytes);
  add.AddText("label", " Label ")
      .Add("input")
      .Attr("type", "text")
      .Attr("name", "label")
      .Attr("maxlength", std::to_string(kMaxValueBytes));
  add.AddText("button", "Add").Attr("type", "submit");
}

void AddBookSection(Element& main, const std::string& token, const std::string& path) {
  BookFileView view = ReadBookFile(path);
  Element& section = main.Add("section").Attr("id", "book");
  section.AddText("h2", "Phone book " + path);
  if (!view.error.empty()) {
    section.AddText("p", "The phone book cannot be read: " + view.error).Class("error");
    return;
  }
  section.AddText("p", view.exists ? "Encoding: " + view.encoding
                                   : std::string("The file does not exist yet; a name added here creates it."));
  Element& table = section.Add("table").Class("book");
  Element& head = table.Add("thead").Add("tr");
  for (const char* title : {"Line", "Number", "Name", ""}) head.AddText("th", title);
  Element& body = table.Add("tbody");
  for (const BookEntryView& entry : view.entries) {
    Element& row = body.Add("tr").Class("entry");
    row.AddText("td", std::to_string(entry.line)).Class("line");
    row.Add("td").Class("number").AddText("a", entry.number).Attr("href", WithQuery("/caller", {{"number", entry.number}}));
    row.AddText("td", entry.name).Class("name");
    Element& remove = AddPostForm(row.Add("td"), "/book/remove", token);
    AddHidden(remove, "line", std::to_string(entry.line));
    AddHidden(remove, "version", view.version);
    remove.AddText("button", "Remove").Attr("type", "submit");
  }
  Element& add = AddPostForm(section, "/book/name", token).Class("action");
  AddHidden(add, "version", view.version);
  AddTextInput(add, "Number ", "number", kMaxNumberBytes);
  AddTextInput(add, " Name ", "name", kMaxValueBytes);
  add.AddText("button", "Add or rename").Attr("type", "submit");
}

Response ListsPage(Request& request, WebContext& context, int status, const PageNotice& notice) {
  Page page("Lists", FrameFor(request, "/lists"));
  Element& main = page.main();
  AddNotice(main, notice);
  const std::string& token = request.session->token;
  if (context.blockFiles.empty() && context.allowFiles.empty() && context.bookFile.empty()) {
    main.AddText("p", "No list and no phone book was given to annc-web (--block, --allow, --book).");
  }
  for (std::size_t i = 0; i < context.blockFiles.size(); ++i) {
    AddListSection(main, token, FindList(context, "block" + std::to_string(i)));
  }
  for (std::size_t i = 0; i < context.allowFiles.size(); ++i) {
    AddListSection(main, token, FindList(context, "allow" + std::to_string(i)));
  }
  if (!context.bookFile.empty()) AddBookSection(main, token, context.bookFile);
  return Response::Html(status, page.Serialize());
}

Response ListsChange(Request& request, WebContext& context, const EditOutcome& outcome) {
  return AfterChange(request, outcome, "/lists", [&](int status, const PageNotice& notice) {
    return ListsPage(request, context, status, notice);
  });
}

Response ListAdd(Request& request, WebContext& context) {
  ListRef ref = FindList(context, request.Field("list"));
  if (ref.path == nullptr) return Response::Message(400, "The form names no list of annc-web's.");
  return ListsChange(request, context,
                     AddListEntry(*ref.path, request.Field("version"), request.Field("expressions"),
                                  request.Field("label")));
}

Response ListRemove(Request& request, WebContext& context) {
  ListRef ref = FindList(context, request.Field("list"));
  if (ref.path == nullptr) return Response::Message(400, "The form names no list of annc-web's.");
  int line = LineNumber(request.Field("line"));
  if (line == 0) return Response::Message(400, "The form names no line.");
  return ListsChange(request, context, RemoveListLine(*ref.path, request.Field("version"), line));
}

Response BookName(Request& request, WebContext& context) {
  if (context.bookFile.empty()) return NotGiven("phone book");
  return ListsChange(request, context,
                     SetBookName(context.bookFile, request.Field("version"), request.Field("number"),
                                 request.Field("name")));
}

Response BookRemove(Request& request, WebContext& context) {
  if (context.bookFile.empty()) return NotGiven("phone book");
  int line = LineNumber(request.Field("line"));
  if (line == 0) return Response::Message(400, "The form names no line.");
  return ListsChange(request, context, RemoveBookLine(context.bookFile, request.Field("version"), line));
}

}  // namespace

PageNotice TakeNotice(Request& request) {
  PageNotice notice;
  if (request.session != nullptr) notice.text = std::move(request.session->notice);
  if (request.session != nullptr) request.session->notice.clear();
  return notice;
}

void AddNotice(Element& main, const PageNotice& notice) {
  if (notice.text.empty()) return;
  main.AddText("p", notice.text).Class(notice.error ? "error" : "notice").Attr("role", "status");
}

int RefusalStatus(const std::string& message) {
  return message.find(kChangedOnDisk) != std::string::npos ? 409 : 400;
}

Response AfterChange(Request& request, const EditOutcome& outcome, const std::string& back,
                     const std::function<Response(int, const PageNotice&)>& reshow) {
  if (!outcome.ok) return reshow(RefusalStatus(outcome.message), PageNotice{outcome.message, true});
  request.session->notice = outcome.message;
  return Response::Redirect(back);
}

void AddChangePages(RouteTable& routes, WebContext& context) {
  WebContext* c = &context;
  routes.Add({"POST", "/caller/block", [c](Request& r) { return Block(r, *c); }});
  routes.Add({"POST", "/caller/allow", [c](Request& r) { return Allow(r, *c); }});
  routes.Add({"POST", "/caller/unblock", [c](Request& r) { return Unblock(r, *c); }});
  routes.Add({"POST", "/caller/name", [c](Request& r) { return Name(r, *c); }});
  routes.Add({"GET", "/lists", [c](Request& r) { return ListsPage(r, *c, 200, TakeNotice(r)); }});
  routes.Add({"POST", "/lists/add", [c](Request& r) { return ListAdd(r, *c); }});
  routes.Add({"POST", "/lists/remove", [c](Request& r) { return ListRemove(r, *c); }});
  routes.Add({"POST", "/book/name", [c](Request& r) { return BookName(r, *c); }});
  routes.Add({"POST", "/book/remove", [c](Request& r) { return BookRemove(r, *c); }});
}

}  // namespace annc::web
