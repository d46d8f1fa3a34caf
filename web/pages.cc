#include "web/pages.h"

#include <nlohmann/json.hpp>

#include <algorithm>

#include "web/auth/password.h"
#include "web/edit/book_edit.h"
#include "web/edit/list_edit.h"
#include "web/page_parts.h"

namespace annc::web {
namespace {

// How long a call without an end counts as ringing now.
constexpr std::int64_t kRingingSeconds = 600;

constexpr char kStyle[] =
    "body{font-family:sans-serif;margin:0;color:#222;background:#fafafa}\n"
    "header{display:flex;gap:1em;align-items:center;padding:.5em 1em;background:#234;color:#fff}\n"
    "header a{color:#fff;text-decoration:none}header a[aria-current]{font-weight:bold}\n"
    "header form{margin-left:auto}\n"
    "main{padding:0 1em 1em}\n"
    "table{border-collapse:collapse;width:100%}th,td{text-align:left;padding:.25em .5em;border-bottom:1px solid #ddd}\n"
    "tr.block td.decision{color:#a00}tr.quiet td.decision{color:#666}tr.announce td.decision{color:#070}\n"
    "#ringing:empty{display:none}#ringing{background:#ffd;border:1px solid #cc6;padding:.5em;margin:.5em 0}\n"
    "form.filter,form.action{display:inline-block;margin:.25em 1em .25em 0}\n"
    "nav.pages{margin:1em 0;display:flex;gap:1em}\n"
    "p.notice{background:#efe;border:1px solid #9c9;padding:.5em}p.error{background:#fee;border:1px solid #c99;"
    "padding:.5em}\n"
    "table.list,table.book{margin-bottom:.5em}td.expressions{font-family:monospace}td form{margin:0}\n"
    "figure.chart svg{width:100%;height:auto;max-width:60em}\n"
    "svg rect.announce{fill:#3a7}svg rect.quiet{fill:#999}svg rect.block{fill:#c33}svg rect.calls{fill:#469}\n"
    "svg text{font-size:11px;fill:#444}svg line{stroke:#bbb}\n";

// The live view: polls /live.json and shows the calls ringing now above the
// table. It builds its elements with textContent only.
constexpr char kLiveScript[] =
    "'use strict';\n"
    "(function () {\n"
    "  const box = document.getElementById('ringing');\n"
    "  if (!box) return;\n"
    "  async function poll() {\n"
    "    try {\n"
    "      const reply = await fetch('/live.json', {credentials: 'same-origin', cache: 'no-store'});\n"
    "      if (!reply.ok) return;\n"
    "      const data = await reply.json();\n"
    "      const items = [];\n"
    "      for (const call of data.calls || []) {\n"
    "        const p = document.createElement('p');\n"
    "        p.className = 'call';\n"
    "        const link = document.createElement('a');\n"
    "        link.href = '/caller?number=' + encodeURIComponent(call.number);\n"
    "        link.textContent = call.number || 'withheld';\n"
    "        p.append('Ringing now: ', link, ' ' + call.name + ' (' + call.decision + ', ' + call.time + ')');\n"
    "        items.push(p);\n"
    "      }\n"
    "      box.replaceChildren(...items);\n"
    "    } catch (e) {\n"
    "      // The server may be restarting; the next poll tries again.\n"
    "    }\n"
    "  }\n"
    "  poll();\n"
    "  setInterval(poll, 3000);\n"
    "})();\n";

std::string DecisionLabel(const std::string& decision) {
  if (decision == "announce") return "announced";
  if (decision == "quiet") return "quiet";
  if (decision == "block") return "blocked";
  return decision;
}

// The time as people read it: the date and the time of day, without the
// offset.
std::string ShownTime(const std::string& time) {
  std::string out = time.substr(0, 19);
  if (out.size() > 10 && out[10] == 'T') out[10] = ' ';
  return out;
}

Response HistoryError(const std::string& why) {
  return Response::Message(503, "The call history cannot be read now: " + why);
}

void AddCallsTable(Element& parent, const std::vector<CallRow>& calls, bool numberColumn) {
  Element& table = parent.Add("table");
  Element& head = table.Add("thead").Add("tr");
  for (const char* title : {"Time", "Number", "Name", "Decision", "Rule", "Source", "Line", "Answered", "Rings",
                            "Duration"}) {
    if (!numberColumn && std::string_view(title) == "Number") continue;
    head.AddText("th", title);
  }
  Element& body = table.Add("tbody");
  for (const CallRow& row : calls) {
    Element& tr = body.Add("tr").Class(row.decision);
    tr.AddText("td", ShownTime(row.time)).Attr("title", row.time);
    if (numberColumn) {
      Element& cell = tr.Add("td");
      if (row.number.empty()) {
        cell.Text("withheld");
      } else {
        cell.AddText("a", row.number).Attr("href", WithQuery("/caller", {{"number", row.number}}));
      }
    }
    tr.AddText("td", row.name);
    tr.AddText("td", DecisionLabel(row.decision)).Class("decision");
    tr.AddText("td", row.rule);
    tr.AddText("td", row.source);
    tr.AddText("td", row.line);
    tr.AddText("td", !row.answered ? (row.ended ? "unknown" : "ringing") : *row.answered ? "yes" : "no");
    tr.AddText("td", std::to_string(row.rings));
    tr.AddText("td", row.duration ? std::to_string(*row.duration) + " s" : "");
  }
}

// The calls page's filter from the query; false when a value is malformed.
bool ReadFilter(const Request& request, CallFilter* filter, int* page) {
  filter->decision = request.Query("decision");
  filter->day = request.Query("day");
  filter->search = request.Query("search");
  std::string pageText = request.Query("page");
  if (!filter->decision.empty() && !IsDecision(filter->decision)) return false;
  if (!filter->day.empty() && !IsDay(filter->day)) return false;
  if (filter->search.size() > kMaxNumber) return false;
  *page = 0;
  if (pageText.size() > 6) return false;
  for (char c : pageText) {
    if (c < '0' || c > '9') return false;
    *page = *page * 10 + (c - '0');
  }
  return true;
}

Response CallsPage(Request& request, WebContext& context) {
  CallFilter filter;
  int pageNumber;
  if (!ReadFilter(request, &filter, &pageNumber)) {
    return Response::Message(400, "The filter is not understood: a decision, a day as YYYY-MM-DD, a search of at "
                                  "most 64 characters and a page number.");
  }
  CallPage calls;
  std::string error;
  if (!context.history->Calls(filter, pageNumber, &calls, &error)) return HistoryError(error);

  FrameContext frame = FrameFor(request, "/");
  frame.liveScript = true;
  Page page("Calls", frame);
  Element& main = page.main();
  main.Add("section").Attr("id", "ringing").Attr("aria-live", "polite");

  Element& form = main.Add("form").Attr("method", "get").Attr("action", "/").Class("filter");
  Element& decision = form.AddText("label", "Decision ").Add("select").Attr("name", "decision");
  for (const char* value : {"", "announce", "quiet", "block"}) {
    Element& option = decision.AddText("option", *value ? DecisionLabel(value) : "any").Attr("value", value);
    if (filter.decision == value) option.Attr("selected", "selected");
  }
  form.AddText("label", " Day ").Add("input").Attr("type", "date").Attr("name", "day").Attr("value", filter.day);
  form.AddText("label", " Number or name ")
      .Add("input")
      .Attr("type", "search")
      .Attr("name", "search")
      .Attr("maxlength", "64")
      .Attr("value", filter.search);
  form.AddText("button", "Show").Attr("type", "submit");

  if (calls.searchCut) {
    main.AddText("p", "The search looked at the newest " + std::to_string(HistoryReader::kSearchWindow) +
                          " calls; a caller's page has all calls of a number.")
        .Class("note");
  }
  if (calls.calls.empty()) {
    main.AddText("p", "No calls.");
  } else {
    AddCallsTable(main, calls.calls, true);
  }
  auto link = [&](int to) {
    std::vector<std::pair<std::string, std::string>> args;
    if (!filter.decision.empty()) args.emplace_back("decision", filter.decision);
    if (!filter.day.empty()) args.emplace_back("day", filter.day);
    if (!filter.search.empty()) args.emplace_back("search", filter.search);
    if (to > 0) args.emplace_back("page", std::to_string(to));
    return WithQuery("/", args);
  };
  Element& pages = main.Add("nav").Class("pages");
  if (pageNumber > 0) pages.AddText("a", "Newer").Attr("href", link(pageNumber - 1)).Attr("rel", "prev");
  if (calls.more) pages.AddText("a", "Older").Attr("href", link(pageNumber + 1)).Attr("rel", "next");
  return Response::Html(200, page.Serialize());
}

}  // namespace

Response CallerPage(Request& request, WebContext& context, int status, const PageNotice& notice) {
  std::string number = request.Query("number");
  if (number.empty()) number = request.Field("number");
  if (number.empty() || number.size() > kMaxNumber) {
    return Response::Message(400, "Which number? The page takes ?number= with at most 64 characters.");
  }
  std::vector<CallRow> calls;
  std::map<std::string, std::int64_t> counts;
  std::string error;
  if (!context.history->CallerCalls(number, &calls, &error) ||
      !context.history->CallerCounts(number, &counts, &error)) {
    return HistoryError(error);
  }
  Page page("Caller " + number, FrameFor(request, "/caller"));
  Element& main = page.main();
  AddNotice(main, notice);
  // The phone book as it is now, which the page's "Name" may have changed.
  BookFileView book;
  if (!context.bookFile.empty()) {
    book = ReadBookFile(context.bookFile);
    if (!book.error.empty()) {
      main.AddText("p", "The phone book cannot be read: " + book.error).Class("error");
    } else {
      auto entry = std::find_if(book.entries.begin(), book.entries.end(),
                                [&](const BookEntryView& e) { return e.number == number; });
      main.AddText("p", entry != book.entries.end() ? "In the phone book as: " + entry->name
                                                    : std::string("Not in the phone book."));
    }
  } else if (context.book != nullptr) {
    if (auto name = FindNameInBook(*context.book, number)) {
      main.AddText("p", "In the phone book as: " + std::string(*name));
    } else {
      main.AddText("p", "Not in the phone book.");
    }
  }
  Element& summary = main.Add("table").Class("counts");
  Element& row = summary.Add("tr");
  for (const char* decision : {"announce", "quiet", "block"}) {
    auto it = counts.find(decision);
    row.AddText("th", DecisionLabel(decision));
    row.AddText("td", std::to_string(it == counts.end() ? 0 : it->second));
  }

  // The buttons that change the lists and the phone book, each shown when
  // its file was given, each carrying the versions of the files it changes
  // as they are now.
  const std::string& token = request.session->token;
  auto form = [&](const char* path) -> Element& {
    Element& f = AddPostForm(main, path, token).Class("action");
    f.Add("input").Attr("type", "hidden").Attr("name", "number").Attr("value", number);
    return f;
  };
  auto hidden = [](Element& f, const std::string& name, const std::string& value) {
    f.Add("input").Attr("type", "hidden").Attr("name", name).Attr("value", value);
  };
  auto textField = [&](Element& f, const char* label, const char* name) {
    f.AddText("label", label)
        .Add("input")
        .Attr("type", "text")
        .Attr("name", name)
        .Attr("maxlength", "200")
        .Attr("value", request.method == "POST" ? request.Field(name) : "");
  };
  if (!context.blockFiles.empty()) {
    Element& block = form("/caller/block");
    hidden(block, "version", ReadListFile(context.blockFiles[0]).version);
    textField(block, "Label ", "label");
    block.AddText("button", "Block").Attr("type", "submit");
  }
  if (!context.allowFiles.empty()) {
    Element& allow = form("/caller/allow");
    hidden(allow, "version", ReadListFile(context.allowFiles[0]).version);
    allow.AddText("button", "Allow").Attr("type", "submit");
  }
  if (!context.blockFiles.empty()) {
    Element& unblock = form("/caller/unblock");
    for (std::size_t i = 0; i < context.blockFiles.size(); ++i) {
      hidden(unblock, "version" + std::to_string(i), ReadListFile(context.blockFiles[i]).version);
    }
    unblock.AddText("button", "Unblock").Attr("type", "submit");
  }
  if (!context.bookFile.empty() && book.error.empty()) {
    Element& name = form("/caller/name");
    hidden(name, "version", book.version);
    textField(name, "Name ", "name");
    name.AddText("button", "Name").Attr("type", "submit");
  }

  main.AddText("h2", std::to_string(calls.size()) + (calls.size() == 1 ? " call" : " calls") +
                         (calls.size() == static_cast<std::size_t>(HistoryReader::kCallerLimit) ? " (the newest)" : ""));
  AddCallsTable(main, calls, false);
  return Response::Html(status, page.Serialize());
}

namespace {

Response LiveJson(Request&, WebContext& context) {
  std::vector<CallRow> calls;
  std::string error;
  if (!context.history->Ringing(context.now() - kRingingSeconds, &calls, &error)) {
    Response response = Response::Message(503, "The call history cannot be read now.");
    return response;
  }
  nlohmann::json list = nlohmann::json::array();
  for (const CallRow& row : calls) {
    list.push_back({{"id", row.id},
                    {"time", ShownTime(row.time)},
                    {"number", row.number},
                    {"name", row.name},
                    {"decision", DecisionLabel(row.decision)},
                    {"rule", row.rule},
                    {"rings", row.rings}});
  }
  Response response;
  response.contentType = "application/json";
  // Invalid UTF-8 from the history is replaced, not thrown over.
  response.body = nlohmann::json{{"calls", list}}.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
  response.headers.emplace_back("Cache-Control", "no-store");
  return response;
}

Response LoginForm(Request& request, int status, const std::string& message) {
  FrameContext frame = FrameFor(request, "/login");
  frame.loginOn = false;
  Page page("Log in", frame);
  if (!message.empty()) page.main().AddText("p", message).Class("error");
  Element& form = AddPostForm(page.main(), "/login", request.session->token);
  form.AddText("label", "Password ")
      .Add("input")
      .Attr("type", "password")
      .Attr("name", "password")
      .Attr("autocomplete", "current-password")
      .Attr("autofocus", "autofocus");
  form.AddText("button", "Log in").Attr("type", "submit");
  return Response::Html(status, page.Serialize());
}

Response Login(Request& request, WebContext& context) {
  if (context.passwordHash.empty()) return Response::Redirect("/");
  if (std::int64_t wait = context.throttle->RetryAfter(request.clientAddress); wait > 0) {
    Response response = LoginForm(request, 429, "Too many failed logins: try again in a minute.");
    response.headers.emplace_back("Retry-After", std::to_string(wait));
    return response;
  }
  if (!VerifyPassword(context.passwordHash, request.Field("password"))) {
    context.throttle->Failed(request.clientAddress);
    return LoginForm(request, 401, "Wrong password.");
  }
  context.throttle->Succeeded(request.clientAddress);
  // A new session for the login, so that an id known before it is of no
  // use after it.
  context.sessions->Remove(request.session->id);
  Session& session = context.sessions->Create();
  session.loggedIn = true;
  Response response = Response::Redirect("/");
  response.headers.emplace_back("Set-Cookie", SessionCookie(session));
  return response;
}

Response Logout(Request& request, WebContext& context) {
  context.sessions->Remove(request.session->id);
  Response response = Response::Redirect(context.passwordHash.empty() ? "/" : "/login");
  response.headers.emplace_back("Set-Cookie", std::string(kSessionCookie) + "=; Max-Age=0; Path=/; HttpOnly; SameSite=Strict");
  return response;
}

Response Asset(const char* type, const char* body) {
  Response response;
  response.contentType = type;
  response.body = body;
  response.headers.emplace_back("Cache-Control", "max-age=3600");
  return response;
}

}  // namespace

std::string SessionCookie(const Session& session) {
  // No Secure attribute: annc-web speaks plain HTTP on the local network,
  // where a Secure cookie would never be sent back.
  return std::string(kSessionCookie) + "=" + session.id + "; Path=/; HttpOnly; SameSite=Strict";
}

FrameContext FrameFor(const Request& request, const std::string& path) {
  FrameContext frame;
  frame.token = request.session != nullptr ? request.session->token : "";
  frame.path = path;
  frame.loginOn = request.loginOn;
  return frame;
}

void AddPages(RouteTable& routes, WebContext& context) {
  WebContext* c = &context;
  routes.Add({"GET", "/", [c](Request& r) { return CallsPage(r, *c); }});
  routes.Add({"GET", "/caller", [c](Request& r) { return CallerPage(r, *c, 200, TakeNotice(r)); }});
  routes.Add({"GET", "/live.json", [c](Request& r) { return LiveJson(r, *c); }});
  routes.Add({"GET", "/login", [c](Request& r) {
                if (c->passwordHash.empty() || r.session->loggedIn) return Response::Redirect("/");
                return LoginForm(r, 200, "");
              }, true});
  routes.Add({"POST", "/login", [c](Request& r) { return Login(r, *c); }, true});
  routes.Add({"POST", "/logout", [c](Request& r) { return Logout(r, *c); }});
  routes.Add({"GET", "/style.css", [](Request&) { return Asset("text/css; charset=utf-8", kStyle); }, true});
  routes.Add({"GET", "/live.js", [](Request&) { return Asset("text/javascript; charset=utf-8", kLiveScript); }, true});
  AddChangePages(routes, context);
  AddStatsPage(routes, context);
}

}  // namespace annc::web
