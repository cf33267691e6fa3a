#include "server/web/gallery.h"

#include <sodium.h>

#include "server/accounts.h"
#include "server/log.h"
#include "server/web/html.h"
#include "server/web/pages.h"
#include "server/web/request_parsing.h"
#include "server/web/web_responses.h"

namespace corvantis::server {

namespace {

bool IsGet(const WebRequest& request) {
  return request.method == "GET" || request.method == "HEAD";
}

WebResponse NotAllowed(const char* allow) {
  WebResponse response = TextResponse(405, "Method not allowed.");
  response.fields.emplace_back("Allow", allow);
  return response;
}

bool EqualTokens(const std::string& a, const std::string& b) {
  return a.size() == b.size() && !a.empty() && sodium_memcmp(a.data(), b.data(), a.size()) == 0;
}

std::optional<FormFields> FormOf(const WebRequest& request) {
  // A form's type may carry parameters ("; charset=UTF-8").
  if (!request.contentType.starts_with("application/x-www-form-urlencoded")) return std::nullopt;
  return ParseForm(request.body);
}

}  // namespace

bool SameOrigin(const WebRequest& request) {
  if (request.fetchSite == "cross-site" || request.fetchSite == "same-site") return false;
  if (request.origin.empty()) return true;
  // Under Referrer-Policy: no-referrer a browser sends "Origin: null" with the forms of our
  // own pages; then only its Sec-Fetch-Site can tell that the form is ours.
  if (request.origin == "null") return request.fetchSite == "same-origin";
  return request.origin == (request.tls ? "https://" : "http://") + request.host;
}

std::string SafeNext(const std::string& next) {
  const bool local = next.size() > 1 && next.size() <= 512 && next[0] == '/' && next[1] != '/' &&
                     next[1] != '\\' && !next.starts_with("/signin") &&
                     !next.starts_with("/signout");
  if (!local) return "/events";
  for (const char c : next) {
    if (c <= 0x20 || c >= 0x7F || c == '\\') return "/events";
  }
  return next;
}

void Gallery::Handle(WebRequest request, Done done) {
  std::optional<WebResponse> response;
  try {
    response = Route(request, done);
  } catch (const std::exception& e) {
    WriteLog(services_.log, "web " + request.peer + " failed: " + e.what());
    response = TextResponse(500, "The server could not answer; try again.");
  }
  if (response) done(std::move(*response));
}

std::optional<WebSessions::Session> Gallery::CurrentSession(const WebRequest& request,
                                                            Database& db) {
  const auto id = CookieValue(request.cookie, kSessionCookie);
  if (!id) return std::nullopt;
  auto session = services_.sessions.Use(*id);
  if (!session) return std::nullopt;
  // The account must still be the one signed in to: removed or re-added, the session ends.
  const auto hash = Accounts(db).FindHash(session->user);
  if (!hash || AccountStamp(*hash) != session->stamp) {
    services_.sessions.End(session->key);
    return std::nullopt;
  }
  return session;
}

bool Gallery::FormAccepted(const WebRequest& request, const WebSessions::Session& session) {
  if (!SameOrigin(request)) return false;
  const auto form = FormOf(request);
  const auto token = form ? FieldValue(*form, "csrf") : std::nullopt;
  return token && EqualTokens(*token, session.csrf);
}

std::optional<WebResponse> Gallery::Route(WebRequest& request, Done& done) {
  const Target target = SplitTarget(request.target);
  const auto segments = PathSegments(target.path);
  if (!segments) return NotFound(std::nullopt);
  const std::vector<std::string_view>& path = *segments;
  const bool get = IsGet(request), post = request.method == "POST";
  if (!path.empty() && path[0] == "assets") {
    if (path.size() != 2) return NotFound(std::nullopt);
    return get ? AssetResponse(path[1]) : NotAllowed("GET, HEAD");
  }

  auto lease = services_.databases.Take();
  Database& db = *lease;
  const auto session = CurrentSession(request, db);
  if (path.size() == 1 && path[0] == "signin") {
    if (post) return SignIn(request, done);
    if (!get) return NotAllowed("GET, HEAD, POST");
    if (session) return Redirect("/events");
    const auto query = ParseForm(target.query);
    return PageResponse(
        200, SignInPage({SafeNext(query ? FieldValue(*query, "next").value_or("") : ""), "", ""}));
  }
  if (path.size() == 1 && path[0] == "signout") {
    if (!post) return NotAllowed("POST");
    if (!session) return Redirect("/signin");
    if (!FormAccepted(request, *session)) {
      return Page(403, "Form out of date", {*session}, "",
                  ErrorMain("Form out of date", "Reload the page and try again."));
    }
    return SignOut(request, *session);
  }

  // Everything else is the account's own.
  const bool page = path.empty() || (path[0] == "events" && path.size() <= 2) ||
                    (path.size() == 3 && path[2] == "delete") ||
                    (path.size() == 1 && path[0] == "live");
  if (!session) {
    if (page && get) {
      const std::string next = path.empty() ? "/events" : std::string(request.target);
      return Redirect("/signin?next=" + UrlEncode(SafeNext(next)));
    }
    if (page && post) return Redirect("/signin");
    return TextResponse(401, "Sign in first.");
  }
  const Signed signedIn{*session};
  const std::string& user = session->user;
  if (path.empty()) return get ? Redirect("/events") : NotAllowed("GET, HEAD");
  // 0 when the path names no id: ParseId never gives 0.
  const int64_t id = path.size() >= 2 ? ParseId(path[1]).value_or(0) : 0;
  if (path[0] == "events") {
    if (path.size() == 1) return get ? EventsPage(request, db, signedIn) : NotAllowed("GET, HEAD");
    if (!id || path.size() > 3) return NotFound(session);
    if (path.size() == 2)
      return get ? EventPage(request, db, signedIn, id) : NotAllowed("GET, HEAD");
    if (path[2] == "zip") return get ? Zip(db, user, id) : NotAllowed("GET, HEAD");
    if (path[2] == "delete") {
      if (!get && !post) return NotAllowed("GET, HEAD, POST");
      if (post && !FormAccepted(request, *session)) {
        return Page(403, "Form out of date", signedIn, "events",
                    ErrorMain("Form out of date",
                              "The event was not deleted. Reload the page and try again."));
      }
      return DeletePage(request, db, signedIn, id);
    }
    return NotFound(session);
  }
  if ((path[0] == "snapshots" || path[0] == "thumbnails") && path.size() == 2) {
    if (!get) return NotAllowed("GET, HEAD");
    if (!id) return NotFound(session);
    return path[0] == "snapshots" ? Snapshot(request, db, user, id)
                                  : Thumbnail(request, db, user, id);
  }
  if (path[0] == "live" && path.size() == 1)
    return get ? LivePage(db, signedIn) : NotAllowed("GET, HEAD");
  if (path[0] == "live" && path.size() == 2 && path[1] == "stream") {
    if (!get) return NotAllowed("GET, HEAD");
    WebResponse response;
    response.stream = *session;
    return response;
  }
  return NotFound(session);
}

std::optional<WebResponse> Gallery::SignIn(WebRequest& request, Done& done) {
  if (!SameOrigin(request)) {
    return PageResponse(403, SignInPage({"/events", "", "This form came from another site."}));
  }
  const auto form = FormOf(request);
  if (!form) return PageResponse(400, SignInPage({"/events", "", "The form was not sent whole."}));
  std::string user = FieldValue(*form, "user").value_or("");
  std::string password = FieldValue(*form, "password").value_or("");
  const std::string next = SafeNext(FieldValue(*form, "next").value_or(""));
  const std::string peer = request.peer;
  const bool tls = request.tls;
  services_.signIn.Check(
      request.client, user, std::move(password),
      [this, user, next, peer, tls, done = std::move(done)](SignInCheck::Outcome outcome) {
        WebResponse response;
        try {
          std::optional<std::string> hash;
          if (outcome == SignInCheck::Outcome::kAccepted) {
            auto lease = services_.databases.Take();
            hash = Accounts(*lease).FindHash(user);
          }
          if (hash) {
            const auto created = services_.sessions.Create(user, AccountStamp(*hash));
            response = Redirect(next);
            response.fields.emplace_back("Set-Cookie", SessionCookie(created.id, tls));
            WriteLog(services_.log, "web " + peer + " user=" + EscapeForLog(user) + " signed in");
          } else if (outcome == SignInCheck::Outcome::kThrottled) {
            response = PageResponse(
                429, SignInPage({next, user, "Too many failed sign-ins; try again later."}));
            response.fields.emplace_back("Retry-After", "60");
            WriteLog(services_.log,
                     "web " + peer + " user=" + EscapeForLog(user) + " sign-in throttled");
          } else {
            response = PageResponse(403, SignInPage({next, user, "Wrong user name or password."}));
            WriteLog(services_.log,
                     "web " + peer + " user=" + EscapeForLog(user) + " sign-in refused");
          }
        } catch (const std::exception& e) {
          WriteLog(services_.log, "web " + peer + " sign-in failed: " + e.what());
          response = TextResponse(500, "The server could not answer; try again.");
        }
        done(std::move(response));
      });
  return std::nullopt;
}

WebResponse Gallery::SignOut(const WebRequest& request, const WebSessions::Session& session) {
  services_.sessions.End(session.key);
  services_.feed.WakeAll(session.user);  // its live streams end now
  WriteLog(services_.log,
           "web " + request.peer + " user=" + EscapeForLog(session.user) + " signed out");
  WebResponse response = Redirect("/signin");
  response.fields.emplace_back("Set-Cookie", SessionCookie("", request.tls));
  return response;
}

WebResponse Gallery::Page(unsigned status, const std::string& title, const Signed& signedIn,
                          const std::string& current, const std::string& main, bool refresh) {
  return PageResponse(
      status,
      RenderPage({title, signedIn.session.user, signedIn.session.csrf, current, refresh}, main));
}

WebResponse Gallery::NotFound(const std::optional<WebSessions::Session>& session) {
  const std::string main = ErrorMain("Not found", "There is nothing of yours at this address.");
  if (session) return Page(404, "Not found", {*session}, "", main);
  return PageResponse(404, RenderPage({"Not found", std::nullopt, "", "", false}, main));
}

}  // namespace corvantis::server
