// The web gallery: each account's events and snapshots, for a browser on a phone or a desk.
//
//   GET  /                     to the events (or the sign-in)
//   GET  /signin, POST /signin the sign-in form; a session cookie once the password is right
//   POST /signout              ends the session on the server
//   GET  /events               the events, newest first, 50 a page (?day=, ?before=, ?after=)
//   GET  /events/ID            one event: its snapshots as a flip-book and a strip
//   GET  /events/ID/zip        the event's snapshots as one ZIP file
//   GET  /events/ID/delete     asks; POST deletes (with the session's form token)
//   GET  /snapshots/ID         one snapshot as stored; GET /thumbnails/ID its thumbnail
//   GET  /live                 the account's newest snapshot; /live/stream follows it (SSE)
//   GET  /assets/NAME          the style sheet, script and pictures compiled in
//
// Every id is looked up together with the signed-in account (gallery_queries.h), and no
// file path ever comes from a request. Pages are HTML rendered here (pages.h). A request
// that changes anything is a POST, from this site (its Origin), with the session's token.
#pragma once

#include <filesystem>
#include <functional>
#include <optional>

#include "server/options.h"
#include "server/web/database_pool.h"
#include "server/web/live_feed.h"
#include "server/web/sign_in_check.h"
#include "server/web/web_exchange.h"
#include "server/web/web_sessions.h"

namespace corvantis::server {

struct GalleryServices {
  std::filesystem::path dataDir;
  std::filesystem::path scratch;  // files being made (data_dir.h: web-tmp/)
  DatabasePool& databases;
  WebSessions& sessions;
  LiveFeed& feed;
  SignInCheck& signIn;
  LogSink log;
};

class Gallery {
 public:
  explicit Gallery(GalleryServices services) : services_(std::move(services)) {}

  using Done = std::function<void(WebResponse)>;
  // Answers `request`: calls `done` once, on this thread, or on a password-checking thread
  // for a sign-in. Runs database queries and file work: call it off the event loop.
  void Handle(WebRequest request, Done done);

  // Gives the live feed the account's newest snapshot from the database, for a stream that
  // has just started watching it.
  void PrimeLiveFeed(const std::string& user);

 private:
  struct Signed {  // a request of a signed-in session
    WebSessions::Session session;
  };
  std::optional<WebResponse> Route(WebRequest& request, Done& done);
  std::optional<WebSessions::Session> CurrentSession(const WebRequest& request, Database& db);
  std::optional<WebResponse> SignIn(WebRequest& request, Done& done);
  WebResponse SignOut(const WebRequest& request, const WebSessions::Session& session);
  // Whether a POST may change anything: from this site, with the session's token.
  bool FormAccepted(const WebRequest& request, const WebSessions::Session& session);

  WebResponse EventsPage(const WebRequest& request, Database& db, const Signed& signedIn);
  WebResponse EventPage(const WebRequest& request, Database& db, const Signed& signedIn,
                        int64_t id);
  WebResponse DeletePage(const WebRequest& request, Database& db, const Signed& signedIn,
                         int64_t id);
  WebResponse LivePage(Database& db, const Signed& signedIn);
  WebResponse NotFound(const std::optional<WebSessions::Session>& session);
  WebResponse Page(unsigned status, const std::string& title, const Signed& signedIn,
                   const std::string& current, const std::string& main, bool refresh = false);

  WebResponse Snapshot(const WebRequest& request, Database& db, const std::string& user,
                       int64_t id);
  WebResponse Thumbnail(const WebRequest& request, Database& db, const std::string& user,
                        int64_t id);
  WebResponse Zip(Database& db, const std::string& user, int64_t id);

  GalleryServices services_;
};

// The answer for an asset (web_assets.h), or 404.
WebResponse AssetResponse(std::string_view name);

// Whether a POST comes from a page of this server: Sec-Fetch-Site does not say another site
// sent it, and its Origin, when the browser sends one, is this server's own (or "null", the
// browser's word under no-referrer, with Sec-Fetch-Site saying same-origin).
bool SameOrigin(const WebRequest& request);

// Where to go after signing in: `next` when it is a path of this server's own ("/live"),
// else the events.
std::string SafeNext(const std::string& next);

}  // namespace corvantis::server
