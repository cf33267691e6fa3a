// The web gallery against the real server over loopback: sign-in, sessions, ownership, forms,
// headers, limits and downloads, as a browser (or an attacker) sees them.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <zip.h>

#include <boost/asio/ssl.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/ssl.hpp>

#include <filesystem>
#include <regex>

#include "server/clock.h"
#include "server/web/web_test_support.h"

namespace corvantis::server {
namespace {

using namespace std::chrono_literals;
using ::testing::HasSubstr;
using testing::HttpResponse;
using ::testing::Not;
using testing::WebTestServer;
namespace fs = std::filesystem;

std::string Field(const HttpResponse& response, const std::string& name) {
  return std::string(response[name]);
}

// Alice and Bob, each with one event of two snapshots, on a clock the test moves.
struct TwoAccounts {
  ManualClock clock{testing::TestEpoch()};
  WebTestServer server{[this](ServerOptions& options) { options.clock = &clock; }};
  testing::NoticeLog notices{server.server().hub()};
  std::vector<testing::StoredUpload> alice, bob;

  TwoAccounts() {
    testing::AddUser(server.dataDir(), "alice", "secret1");
    testing::AddUser(server.dataDir(), "bobby", "secret2");
    server.UploadAll("alice", "secret1",
                     {testing::TestJpeg(640, 480, 1), testing::TestJpeg(640, 480, 2)});
    clock.Advance(1s);
    server.UploadAll("bobby", "secret2",
                     {testing::TestJpeg(320, 240, 3), testing::TestJpeg(320, 240, 4)});
    for (const auto& row : testing::StoredUploads(server.dataDir())) {
      (row.user == "alice" ? alice : bob).push_back(row);
    }
  }
  // Closes both events: the gap passes.
  void CloseEvents() {
    clock.Advance(kDefaultEventGap + 1s);
    notices.WaitFor(Notice::Kind::kEventClosed, 2);
  }
};

bool EventOpen(const fs::path& dataDir, int64_t event) {
  Database db(dataDir / Database::kFileName);
  Statement query(db.handle(), "SELECT open FROM events WHERE id=?");
  query.Bind(1, event);
  return query.Step() && query.ColumnInt(0) != 0;
}

bool EventExists(const fs::path& dataDir, int64_t event) {
  Database db(dataDir / Database::kFileName);
  Statement query(db.handle(), "SELECT 1 FROM events WHERE id=?");
  query.Bind(1, event);
  return query.Step();
}

TEST(WebGallery, SignInSetsAStrictCookieAndSignOutEndsTheSessionOnTheServer) {
  WebTestServer server;
  testing::AddUser(server.dataDir(), "alice", "secret1");
  auto browser = server.Browser();

  // Not signed in: pages lead to the sign-in, with the way back; pictures are refused.
  auto response = browser->Get("/events?day=2024-05-01");
  EXPECT_EQ(response.result_int(), 303u);
  EXPECT_EQ(Field(response, "Location"), "/signin?next=%2Fevents%3Fday%3D2024-05-01");
  EXPECT_EQ(browser->Get("/snapshots/1").result_int(), 401u);
  response = browser->Get("/signin?next=%2Flive");
  EXPECT_EQ(response.result_int(), 200u);
  EXPECT_THAT(response.body(), HasSubstr("name=\"next\" value=\"/live\""));

  // A wrong password, an unknown name and a name no account can have: one refusal.
  for (const std::string& form :
       std::vector<std::string>{"user=alice&password=wrong11", "user=nobody&password=secret1",
                                "user=al&password=secret1"}) {
    response = browser->Post("/signin", form);
    EXPECT_EQ(response.result_int(), 403u) << form;
    EXPECT_THAT(response.body(), HasSubstr("Wrong user name or password."));
    EXPECT_EQ(testing::SessionFrom(response), "");
  }

  // The right one: a 256-bit id in a cookie scripts cannot read nor other sites send.
  response = browser->Post("/signin", "user=alice&password=secret1&next=%2Flive");
  EXPECT_EQ(response.result_int(), 303u);
  EXPECT_EQ(Field(response, "Location"), "/live");
  const std::string cookie = Field(response, "Set-Cookie");
  EXPECT_THAT(cookie, HasSubstr("; Path=/"));
  EXPECT_THAT(cookie, HasSubstr("; HttpOnly"));
  EXPECT_THAT(cookie, HasSubstr("; SameSite=Strict"));
  EXPECT_THAT(cookie, Not(HasSubstr("Secure")));  // plain HTTP on loopback
  const std::string session = testing::SessionFrom(response);
  ASSERT_EQ(session.size(), 64u);
  EXPECT_NE(server.SignIn("alice", "secret1"), session);  // every sign-in a new id

  // An open redirect is no way back.
  response = browser->Post("/signin", "user=alice&password=secret1&next=%2F%2Fevil.example");
  EXPECT_EQ(Field(response, "Location"), "/events");

  response = browser->Get("/events", session);
  EXPECT_EQ(response.result_int(), 200u);
  EXPECT_THAT(response.body(), HasSubstr("No events yet."));
  const std::string csrf = testing::CsrfFrom(response.body());
  ASSERT_FALSE(csrf.empty());

  // Sign-out is a POST with the form's token; a GET or a bare POST changes nothing.
  EXPECT_EQ(browser->Get("/signout", session).result_int(), 405u);
  EXPECT_EQ(browser->Post("/signout", "", session).result_int(), 403u);
  EXPECT_EQ(browser->Get("/events", session).result_int(), 200u);
  response = browser->Post("/signout", "csrf=" + csrf, session);
  EXPECT_EQ(response.result_int(), 303u);
  EXPECT_THAT(Field(response, "Set-Cookie"), HasSubstr("Max-Age=0"));
  // The old id, replayed, finds nothing on the server.
  EXPECT_EQ(browser->Get("/events", session).result_int(), 303u);
  EXPECT_EQ(browser->Get("/live", session).result_int(), 303u);
  server.WaitForLog("user=alice signed out");
}

TEST(WebGallery, SessionsEndAfterTwelveHoursUnusedAndWithTheirAccount) {
  ManualClock clock{testing::TestEpoch()};
  WebTestServer server([&](ServerOptions& options) { options.clock = &clock; });
  testing::AddUser(server.dataDir(), "alice", "secret1");
  auto browser = server.Browser();
  const std::string session = server.SignIn("alice", "secret1");
  clock.Advance(12h - 1s);
  EXPECT_EQ(browser->Get("/events", session).result_int(), 200u);  // and used again now
  clock.Advance(12h - 1s);
  EXPECT_EQ(browser->Get("/events", session).result_int(), 200u);
  clock.Advance(12h);
  EXPECT_EQ(browser->Get("/events", session).result_int(), 303u);

  // Removed and added again with another password, the account's sessions are over.
  const std::string second = server.SignIn("alice", "secret1");
  {
    Database db(server.dataDir() / Database::kFileName);
    Accounts accounts(db);
    ASSERT_TRUE(accounts.Remove("alice"));
  }
  testing::AddUser(server.dataDir(), "alice", "other11");
  EXPECT_EQ(browser->Get("/events", second).result_int(), 303u);
  // Ids of the wrong shape or unknown are simply not signed in.
  EXPECT_EQ(browser->Get("/events", std::string(64, 'a')).result_int(), 303u);
  EXPECT_EQ(browser->Get("/events", "x;y=z").result_int(), 303u);
}

TEST(WebGallery, FailedSignInsAreThrottledTogetherWithTheAlarmPortsLogins) {
  WebTestServer server;
  testing::AddUser(server.dataDir(), "alice", "secret1");
  auto browser = server.Browser(1);
  for (int i = 0; i < 5; ++i) {
    EXPECT_EQ(browser->Post("/signin", "user=alice&password=wrong11").result_int(), 403u);
  }
  // The right password now gets no check, on the web and on the alarm port alike.
  auto response = browser->Post("/signin", "user=alice&password=secret1");
  EXPECT_EQ(response.result_int(), 429u);
  EXPECT_EQ(testing::SessionFrom(response), "");
  auto camera = std::make_unique<testing::Client>(server.endpoint(), testing::TestAddress(1));
  EXPECT_EQ(camera->Exchange("alice"), "331 Password, please.");
  EXPECT_EQ(camera->Exchange("secret1"), "300 Too many failed logins; try again later.");
  // Another address is not held back.
  EXPECT_FALSE(server.SignIn("alice", "secret1", 2).empty());
}

TEST(WebGallery, EventsAndEventPagesShowTheAccountsOwnEvents) {
  TwoAccounts t;
  const std::string session = t.server.SignIn("alice", "secret1");
  auto browser = t.server.Browser();
  auto response = browser->Get("/events", session);
  ASSERT_EQ(response.result_int(), 200u);
  const std::string event = std::to_string(t.alice[0].event);
  EXPECT_THAT(response.body(), HasSubstr("href=\"/events/" + event + "\""));
  EXPECT_THAT(response.body(), HasSubstr("/thumbnails/" + std::to_string(t.alice[0].id)));
  EXPECT_THAT(response.body(), HasSubstr("2 snapshots"));
  EXPECT_THAT(response.body(), HasSubstr("class=\"badge\">open<"));
  EXPECT_THAT(response.body(), HasSubstr("datetime=\"2024-05-01T12:00:00.000Z\""));
  EXPECT_THAT(response.body(), Not(HasSubstr("/events/" + std::to_string(t.bob[0].event) + "\"")));

  // The day filter, in UTC and in a zone two hours ahead of it (the browser sends -120).
  EXPECT_THAT(browser->Get("/events?day=2024-05-01", session).body(),
              HasSubstr("/events/" + event));
  EXPECT_THAT(browser->Get("/events?day=2024-04-30", session).body(), HasSubstr("No events here."));
  EXPECT_THAT(browser->Get("/events?day=2024-05-02&tz=-720", session).body(),
              HasSubstr("/events/" + event));
  EXPECT_EQ(browser->Get("/events?day=2024-02-30", session).result_int(), 303u);

  response = browser->Get("/events/" + event, session);
  ASSERT_EQ(response.result_int(), 200u);
  for (const auto& row : t.alice) {
    EXPECT_THAT(response.body(), HasSubstr("href=\"/snapshots/" + std::to_string(row.id) + "\""));
  }
  EXPECT_THAT(response.body(), HasSubstr("href=\"/events/" + event + "/zip\""));
  EXPECT_THAT(response.body(), HasSubstr("1 / 2"));

  // A snapshot as stored, and its thumbnail 240 pixels wide, cached beside the data.
  response = browser->Get("/snapshots/" + std::to_string(t.alice[1].id), session);
  EXPECT_EQ(response.body(), testing::ReadFile(t.server.dataDir() / t.alice[1].file));
  EXPECT_EQ(Field(response, "Content-Type"), "image/jpeg");
  response = browser->Get("/thumbnails/" + std::to_string(t.alice[1].id), session);
  ASSERT_EQ(response.result_int(), 200u);
  const fs::path cached = t.server.dataDir() / ThumbnailFile(t.alice[1].file);
  EXPECT_EQ(response.body(), testing::ReadFile(cached));
  EXPECT_EQ(response.body().substr(0, 2), "\xFF\xD8");
  // Removed from the cache, it is made again.
  fs::remove(cached);
  EXPECT_EQ(browser->Get("/thumbnails/" + std::to_string(t.alice[1].id), session).body(),
            response.body());
  EXPECT_TRUE(fs::exists(cached));
  // A repeated request with the tag it was given is answered without the picture.
  const std::string tag = Field(response, "ETag");
  response = browser->Get("/thumbnails/" + std::to_string(t.alice[1].id), session,
                          {{"If-None-Match", tag}});
  EXPECT_EQ(response.result_int(), 304u);
  EXPECT_EQ(response.body(), "");
}

TEST(WebGallery, NoAccountReadsOrDeletesAnothersEventsSnapshotsThumbnailsOrZipFiles) {
  TwoAccounts t;
  t.CloseEvents();
  const std::string bob = t.server.SignIn("bobby", "secret2");
  auto browser = t.server.Browser();
  const std::string csrf = testing::CsrfFrom(browser->Get("/events", bob).body());
  ASSERT_FALSE(csrf.empty());
  std::vector<int64_t> ids;
  for (const auto& row : t.alice) ids.insert(ids.end(), {row.id, row.event});
  for (int64_t id = 1; id < 8; ++id) ids.push_back(id);
  for (const int64_t id : ids) {
    const std::string n = std::to_string(id);
    const bool bobs = std::any_of(t.bob.begin(), t.bob.end(),
                                  [&](const auto& row) { return row.id == id || row.event == id; });
    for (const std::string& target :
         std::vector<std::string>{"/events/" + n, "/events/" + n + "/zip", "/snapshots/" + n,
                                  "/thumbnails/" + n, "/events/" + n + "/delete"}) {
      const auto response = browser->Get(target, bob);
      if (bobs) continue;  // Bob's own ids answer; the point is what Alice's do
      EXPECT_EQ(response.result_int(), 404u) << target;
      for (const auto& row : t.alice) {
        EXPECT_EQ(response.body().find(testing::ReadFile(t.server.dataDir() / row.file)),
                  std::string::npos);
      }
    }
  }
  for (const auto& row : t.alice) {
    const auto response = browser->Post("/events/" + std::to_string(row.event) + "/delete",
                                        "csrf=" + csrf + "&confirm=yes", bob);
    EXPECT_EQ(response.result_int(), 404u);
    EXPECT_TRUE(EventExists(t.server.dataDir(), row.event));
    EXPECT_TRUE(fs::exists(t.server.dataDir() / row.file));
  }
  // Ids of other shapes are no way in either, and no path is ever taken from the address.
  for (const std::string& target : std::vector<std::string>{
           "/snapshots/0" + std::to_string(t.alice[0].id), "/snapshots/-1", "/snapshots/1e3",
           "/snapshots/99999999999999999999", "/snapshots/" + t.alice[0].file,
           "/snapshots/..%2F..%2Fcorvantis-server.db", "/assets/../corvantis-server.db",
           "/snapshots//1"}) {
    EXPECT_THAT(browser->Get(target, bob).result_int(), ::testing::AnyOf(400u, 404u)) << target;
  }
}

TEST(WebGallery, DeletingTakesTheFormsTokenAConfirmationAndAClosedEvent) {
  TwoAccounts t;
  const std::string alice = t.server.SignIn("alice", "secret1");
  auto browser = t.server.Browser();
  const std::string event = std::to_string(t.alice[0].event);
  const std::string target = "/events/" + event + "/delete";
  auto response = browser->Get(target, alice);
  ASSERT_EQ(response.result_int(), 409u);  // still open: snapshots still arrive
  EXPECT_THAT(response.body(), HasSubstr("still open"));
  const std::string csrf = testing::CsrfFrom(response.body());
  EXPECT_EQ(browser->Post(target, "csrf=" + csrf + "&confirm=yes", alice).result_int(), 409u);
  t.CloseEvents();
  ASSERT_FALSE(EventOpen(t.server.dataDir(), t.alice[0].event));
  response = browser->Get(target, alice);
  ASSERT_EQ(response.result_int(), 200u);
  EXPECT_THAT(response.body(), HasSubstr("name=\"confirm\" value=\"yes\""));

  // Without the token, with another session's, from another site, or unconfirmed: kept.
  const std::string other = t.server.SignIn("alice", "secret1");
  const std::string otherCsrf = testing::CsrfFrom(browser->Get("/events", other).body());
  ASSERT_NE(otherCsrf, csrf);
  EXPECT_EQ(browser->Post(target, "confirm=yes", alice).result_int(), 403u);
  EXPECT_EQ(browser->Post(target, "csrf=" + otherCsrf + "&confirm=yes", alice).result_int(), 403u);
  EXPECT_EQ(browser
                ->Post(target, "csrf=" + csrf + "&confirm=yes", alice,
                       {{"Origin", "http://evil.example"}})
                .result_int(),
            403u);
  EXPECT_EQ(
      browser
          ->Post(target, "csrf=" + csrf + "&confirm=yes", alice, {{"Sec-Fetch-Site", "cross-site"}})
          .result_int(),
      403u);
  EXPECT_EQ(browser->Post(target, "csrf=" + csrf + "&confirm=yes", alice, {{"Origin", "null"}})
                .result_int(),
            403u);
  EXPECT_EQ(browser
                ->Post(target, "csrf=" + csrf, alice,
                       {{"Origin", "null"}, {"Sec-Fetch-Site", "same-origin"}})
                .result_int(),
            200u);  // from our own page, unconfirmed: it asks again
  EXPECT_EQ(browser->Send("DELETE", "/events/" + event, "", alice, {}).result_int(), 405u);
  ASSERT_TRUE(EventExists(t.server.dataDir(), t.alice[0].event));
  const std::string thumbnail = "/thumbnails/" + std::to_string(t.alice[0].id);
  ASSERT_EQ(browser->Get(thumbnail, alice).result_int(), 200u);

  response = browser->Post(target, "csrf=" + csrf + "&confirm=yes", alice,
                           {{"Origin", "http://gallery.test"}});
  EXPECT_EQ(response.result_int(), 303u);
  EXPECT_EQ(Field(response, "Location"), "/events?deleted=" + event);
  EXPECT_FALSE(EventExists(t.server.dataDir(), t.alice[0].event));
  for (const auto& row : t.alice) {
    EXPECT_FALSE(fs::exists(t.server.dataDir() / row.file)) << row.file;
    EXPECT_FALSE(fs::exists(t.server.dataDir() / ThumbnailFile(row.file))) << row.file;
    EXPECT_EQ(browser->Get("/snapshots/" + std::to_string(row.id), alice).result_int(), 404u);
  }
  EXPECT_EQ(browser->Get(thumbnail, alice).result_int(), 404u);
  for (const auto& row : t.bob) EXPECT_TRUE(fs::exists(t.server.dataDir() / row.file));
  t.server.WaitForLog("user=alice deleted event=" + event + " snapshots=2");
  EXPECT_EQ(browser->Get("/events/" + event, alice).result_int(), 404u);
}

TEST(WebGallery, TheZipHoldsTheStoredFilesByteForByteUncompressed) {
  TwoAccounts t;
  const std::string alice = t.server.SignIn("alice", "secret1");
  auto browser = t.server.Browser();
  const auto response = browser->Get("/events/" + std::to_string(t.alice[0].event) + "/zip", alice);
  ASSERT_EQ(response.result_int(), 200u);
  EXPECT_EQ(Field(response, "Content-Type"), "application/zip");
  EXPECT_THAT(Field(response, "Content-Disposition"), HasSubstr("attachment;"));
  zip_error_t error;
  zip_error_init(&error);
  zip_source_t* source =
      zip_source_buffer_create(response.body().data(), response.body().size(), 0, &error);
  ASSERT_NE(source, nullptr);
  zip_t* zip = zip_open_from_source(source, ZIP_RDONLY | ZIP_CHECKCONS, &error);
  ASSERT_NE(zip, nullptr) << zip_error_strerror(&error);
  ASSERT_EQ(zip_get_num_entries(zip, 0), static_cast<zip_int64_t>(t.alice.size()));
  for (std::size_t i = 0; i < t.alice.size(); ++i) {
    zip_stat_t stat;
    ASSERT_EQ(zip_stat_index(zip, i, 0, &stat), 0);
    const std::string stored = testing::ReadFile(t.server.dataDir() / t.alice[i].file);
    EXPECT_EQ(std::string(stat.name),
              "000" + std::to_string(i + 1) + "-" + fs::path(t.alice[i].file).filename().string());
    EXPECT_EQ(stat.comp_method, ZIP_CM_STORE);
    EXPECT_EQ(stat.size, stored.size());
    std::string data(stat.size, '\0');
    zip_file_t* file = zip_fopen_index(zip, i, 0);
    ASSERT_NE(file, nullptr);
    EXPECT_EQ(zip_fread(file, data.data(), data.size()), static_cast<zip_int64_t>(data.size()));
    zip_fclose(file);
    EXPECT_EQ(data, stored);
  }
  zip_close(zip);
  // Nothing of it stays behind on the server.
  EXPECT_TRUE(fs::is_empty(t.server.dataDir() / "web-tmp"));
}

TEST(WebGallery, EveryAnswerCarriesTheSecurityHeadersAndPicturesStayPrivate) {
  TwoAccounts t;
  const std::string alice = t.server.SignIn("alice", "secret1");
  auto browser = t.server.Browser();
  const std::string snapshot = std::to_string(t.alice[0].id);
  for (const std::string& target :
       std::vector<std::string>{"/signin", "/events", "/events/" + std::to_string(t.alice[0].event),
                                "/live", "/snapshots/" + snapshot, "/thumbnails/" + snapshot,
                                "/nowhere", "/assets/style.css", "/snapshots/999"}) {
    const auto response = browser->Get(target, alice);
    EXPECT_EQ(Field(response, "Content-Security-Policy"),
              "default-src 'self'; img-src 'self'; frame-ancestors 'none'")
        << target;
    EXPECT_EQ(Field(response, "X-Content-Type-Options"), "nosniff") << target;
    EXPECT_EQ(Field(response, "Referrer-Policy"), "no-referrer") << target;
    if (target.starts_with("/snapshots/" + snapshot) || target.starts_with("/thumbnails/")) {
      EXPECT_THAT(Field(response, "Cache-Control"), HasSubstr("private")) << target;
    } else if (!target.starts_with("/assets/")) {
      EXPECT_EQ(Field(response, "Cache-Control"), "no-store") << target;
    }
  }
  // HEAD answers as GET would, without the body.
  const auto head = browser->Send("HEAD", "/snapshots/" + snapshot, "", alice, {});
  EXPECT_EQ(head.result_int(), 200u);
  EXPECT_EQ(Field(head, "Content-Length"),
            std::to_string(testing::ReadFile(t.server.dataDir() / t.alice[0].file).size()));
  EXPECT_EQ(browser->Get("/events", alice).result_int(), 200u);  // and the connection goes on
}

TEST(WebGallery, OversizedRequestsAreRefusedAndSlowClientsLetGo) {
  WebTestServer server([](ServerOptions& options) {
    options.web.limits.requestTimeout = 300ms;
    options.web.limits.maxPerAddress = 3;
  });
  testing::AddUser(server.dataDir(), "alice", "secret1");
  auto status = [](const std::string& reply) { return reply.substr(0, 12); };

  auto browser = server.Browser();
  browser->Write("GET /" + std::string(3000, 'a') + " HTTP/1.1\r\nHost: x\r\n\r\n");
  EXPECT_EQ(status(browser->ReadToClose()), "HTTP/1.1 414");
  browser = server.Browser();
  browser->Write("GET / HTTP/1.1\r\nHost: x\r\nX-Filler: " + std::string(9000, 'b') + "\r\n\r\n");
  EXPECT_EQ(status(browser->ReadToClose()), "HTTP/1.1 431");
  browser = server.Browser();
  browser->Write(
      "POST /signin HTTP/1.1\r\nHost: x\r\nContent-Type: "
      "application/x-www-form-urlencoded\r\nContent-Length: 20000\r\n\r\n");
  EXPECT_EQ(status(browser->ReadToClose()), "HTTP/1.1 413");
  browser = server.Browser();
  browser->Write("GARBAGE\r\n\r\n");
  EXPECT_EQ(status(browser->ReadToClose()), "HTTP/1.1 400");
  // More form fields than any form of the gallery has: refused, not parsed at length.
  std::string fields;
  for (int i = 0; i < 100; ++i) fields += "f" + std::to_string(i) + "=1&";
  EXPECT_EQ(server.Browser()->Post("/signin", fields).result_int(), 400u);

  // A request that trickles in too slowly, and a connection that says nothing, are closed.
  browser = server.Browser();
  browser->Write("GET /events HTTP/1.1\r\nHost: x\r\n");
  EXPECT_EQ(browser->ReadToClose(), "");
  server.WaitForLog("outcome=timed out");
  browser = server.Browser();
  EXPECT_EQ(browser->ReadToClose(), "");
  server.WaitForLog("outcome=idle");

  // Connections from one address beyond the limit are closed at once; others still come in.
  std::vector<std::unique_ptr<testing::WebClient>> held;
  for (int i = 0; i < 3; ++i) {
    held.push_back(server.Browser(1));
    EXPECT_EQ(held.back()->Get("/signin").result_int(), 200u);
  }
  EXPECT_EQ(server.Browser(1)->ReadToClose(), "");
  server.WaitForLog("outcome=too many from address");
  EXPECT_EQ(server.Browser(2)->Get("/signin").result_int(), 200u);
}

TEST(WebGallery, TheLiveStreamSendsEachNewSnapshotAndEndsWithTheSession) {
  WebTestServer server;
  testing::AddUser(server.dataDir(), "alice", "secret1");
  testing::AddUser(server.dataDir(), "bobby", "secret2");
  const std::string session = server.SignIn("alice", "secret1");
  auto page = server.Browser()->Get("/live", session);
  EXPECT_THAT(page.body(), HasSubstr("No snapshot yet."));
  const std::string csrf = testing::CsrfFrom(page.body());

  auto stream = server.Browser();
  stream->Write("GET /live/stream HTTP/1.1\r\nHost: gallery.test\r\nCookie: corvantis_session=" +
                session + "\r\n\r\n");
  const auto header = stream->ReadHeader();
  EXPECT_EQ(header.result_int(), 200u);
  EXPECT_EQ(Field(header, "Content-Type"), "text/event-stream");
  server.UploadAll("bobby", "secret2", {testing::TestJpeg(64, 48, 9)});  // not Alice's
  server.UploadAll("alice", "secret1", {testing::TestJpeg(64, 48, 1)});
  const auto rows = testing::StoredUploads(server.dataDir());
  ASSERT_EQ(rows.size(), 2u);
  // The stream may first tell where the account stood when it started; then Alice's snapshot.
  const std::string alices = "\"snapshot\":" + std::to_string(rows[1].id);
  std::string text;
  while (text.find(alices) == std::string::npos || !text.ends_with("\n\n")) {
    const std::string more = stream->ReadSome();
    ASSERT_FALSE(more.empty()) << text;
    text += more;
  }
  EXPECT_THAT(text, HasSubstr("event: snapshot\ndata: {"));
  EXPECT_THAT(text, Not(HasSubstr("\"snapshot\":" + std::to_string(rows[0].id) + ",")));
  EXPECT_THAT(text, HasSubstr("1 snapshot"));

  // Signing out ends the stream.
  EXPECT_EQ(server.Browser()->Post("/signout", "csrf=" + csrf, session).result_int(), 303u);
  for (std::string more = stream->ReadSome(); !more.empty(); more = stream->ReadSome()) {
  }
  server.WaitForLog("outcome=signed out");
  EXPECT_EQ(server.Browser()->Get("/live/stream", session).result_int(), 401u);
}

TEST(WebGallery, RefusesPlainHttpOffLoopbackUnlessToldAndUnreadableTlsFiles) {
  testing::TempDir dir;
  ServerOptions options;
  options.dataDir = dir.path();
  options.listenAddress = testing::TestAddress();
  options.port = 0;
  options.web.enabled = true;
  options.web.address = "0.0.0.0";
  options.web.port = 0;
  try {
    Server server(options);
    ADD_FAILURE() << "plain HTTP on 0.0.0.0 was taken";
  } catch (const std::runtime_error& e) {
    EXPECT_THAT(e.what(), HasSubstr("needs HTTPS"));
  }
  options.web.tlsCert = dir.path() / "missing.pem";
  options.web.tlsKey = dir.path() / "missing.key";
  EXPECT_THROW(Server{options}, std::runtime_error);
  EXPECT_TRUE(IsLoopbackAddress("127.1.2.3"));
  EXPECT_TRUE(IsLoopbackAddress("::1"));
  EXPECT_TRUE(IsLoopbackAddress("::ffff:127.0.0.1"));
  EXPECT_FALSE(IsLoopbackAddress("::ffff:10.0.0.1"));
  EXPECT_FALSE(IsLoopbackAddress("::"));
  EXPECT_FALSE(IsLoopbackAddress("192.168.1.1"));
}

TEST(WebGallery, OverTlsTheCookieIsSecureAndPlainHttpGetsNoAnswer) {
  namespace beast = boost::beast;
  namespace http = beast::http;
  testing::TempDir keys;
  const fs::path cert = keys.path() / "cert.pem", key = keys.path() / "key.pem";
  const std::string make =
      "openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:P-256 -nodes -days 1 "
      "-subj /CN=gallery.test -keyout " +
      key.string() + " -out " + cert.string() + " 2>/dev/null";
  ASSERT_EQ(std::system(make.c_str()), 0);
  WebTestServer server([&](ServerOptions& options) {
    options.web.tlsCert = cert;
    options.web.tlsKey = key;
  });
  testing::AddUser(server.dataDir(), "alice", "secret1");

  asio::io_context io;
  asio::ssl::context tls(asio::ssl::context::tls_client);
  tls.set_verify_mode(asio::ssl::verify_none);
  beast::ssl_stream<beast::tcp_stream> stream(io, tls);
  beast::get_lowest_layer(stream).socket().open(asio::ip::tcp::v4());
  beast::get_lowest_layer(stream).socket().bind(
      {asio::ip::make_address(testing::TestAddress()), 0});
  beast::get_lowest_layer(stream).expires_after(10s);
  beast::get_lowest_layer(stream).connect(server.web());
  stream.handshake(asio::ssl::stream_base::client);
  http::request<http::string_body> request(http::verb::post, "/signin", 11);
  request.set(http::field::host, "gallery.test");
  request.set(http::field::content_type, "application/x-www-form-urlencoded");
  request.body() = "user=alice&password=secret1";
  request.prepare_payload();
  http::write(stream, request);
  beast::flat_buffer buffer;
  HttpResponse response;
  http::read(stream, buffer, response);
  EXPECT_EQ(response.result_int(), 303u);
  EXPECT_THAT(Field(response, "Set-Cookie"), HasSubstr("; Secure"));
  EXPECT_EQ(testing::SessionFrom(response).size(), 64u);

  // Plain HTTP on the TLS port: no page, and the connection ends.
  auto plain = server.Browser();
  plain->Write("GET /signin HTTP/1.1\r\nHost: x\r\n\r\n");
  EXPECT_EQ(plain->ReadToClose().find("HTTP/1.1 200"), std::string::npos);
}

}  // namespace
}  // namespace corvantis::server
