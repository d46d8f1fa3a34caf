// What annc-web's page files share: the caller page (which the caller's
// actions show again when a change is refused), the answer to a change and
// the routes of the pages that change and count.
#ifndef ANNC_WEB_PAGE_PARTS_H_
#define ANNC_WEB_PAGE_PARTS_H_

#include <string>

#include "web/edit/edited_file.h"
#include "web/http.h"
#include "web/pages.h"

namespace annc::web {

// The longest number or search text a page takes.
inline constexpr std::size_t kMaxNumber = 64;

// A refusal's line shown at the top of a page, or the notice a change left
// in the session (shown once).
struct PageNotice {
  std::string text;
  bool error = false;
};

// The caller page for ?number=, with `notice` above it, answered with
// `status`.
Response CallerPage(Request& request, WebContext& context, int status, const PageNotice& notice);
// The notice the session holds for the next page, taken from it.
PageNotice TakeNotice(Request& request);
// Adds the notice's paragraph (class "notice" or "error") when it has text.
void AddNotice(Element& main, const PageNotice& notice);

// The answer to a change: on success (or no change to make) 303 to `back`
// with the outcome's line kept in the session; on a refusal the page again
// (`reshow`) with the line, 409 when the file changed since the form was
// shown and 400 for anything else the change refused, nothing written.
Response AfterChange(Request& request, const EditOutcome& outcome, const std::string& back,
                     const std::function<Response(int, const PageNotice&)>& reshow);
// The status a refused change is answered with, from its line.
int RefusalStatus(const std::string& message);

// The caller page's four actions, the lists page with its changes, and the
// statistics page.
void AddChangePages(RouteTable& routes, WebContext& context);
void AddStatsPage(RouteTable& routes, WebContext& context);

}  // namespace annc::web

#endif  // ANNC_WEB_PAGE_PARTS_H_
