// What the gallery reads from requests and writes into pages: every shape it accepts, and
// the near misses it must not.
#include "server/web/request_parsing.h"

#include <gtest/gtest.h>

#include "server/web/gallery.h"
#include "server/web/html.h"
#include "server/web/thumbnails.h"
#include "server/web/web_test_support.h"

namespace corvantis::server {
namespace {

TEST(RequestParsing, FormsDecodeEscapesAndRefuseBrokenOnesOrTooManyFields) {
  const auto form = ParseForm("user=al%C3%A9+x&&password=p%26ss=1&empty=&bare");
  ASSERT_TRUE(form);
  EXPECT_EQ(FieldValue(*form, "user"), "al\xC3\xA9 x");
  EXPECT_EQ(FieldValue(*form, "password"), "p&ss=1");
  EXPECT_EQ(FieldValue(*form, "empty"), "");
  EXPECT_EQ(FieldValue(*form, "bare"), "");
  EXPECT_EQ(FieldValue(*form, "missing"), std::nullopt);
  EXPECT_EQ(form->size(), 4u);
  for (const char* broken : {"a=%", "a=%4", "a=%G1", "%zz=1", "a=1&b=%"}) {
    EXPECT_FALSE(ParseForm(broken)) << broken;
  }
  EXPECT_TRUE(ParseForm("a=1&b=2&c=3", 3));
  EXPECT_FALSE(ParseForm("a=1&b=2&c=3&d=4", 3));
  EXPECT_EQ(ParseForm("")->size(), 0u);
}

TEST(RequestParsing, PathsCookiesAndIdsTakeOnlyTheirOwnShapes) {
  EXPECT_EQ(SplitTarget("/events?day=1?x").query, "day=1?x");
  EXPECT_EQ(PathSegments("/")->size(), 0u);
  EXPECT_EQ(*PathSegments("/events/12/zip"),
            (std::vector<std::string_view>{"events", "12", "zip"}));
  for (const char* bad : {"", "events", "//", "/events/", "/a//b"})
    EXPECT_FALSE(PathSegments(bad)) << bad;

  EXPECT_EQ(CookieValue("a=1; corvantis_session=abc ;b=2", "corvantis_session"), "abc");
  EXPECT_EQ(CookieValue("corvantis_session=\"q\"", "corvantis_session"), "q");
  EXPECT_EQ(CookieValue("xcorvantis_session=1; corvantis_sessionx=2", "corvantis_session"),
            std::nullopt);
  EXPECT_EQ(CookieValue("corvantis_session", "corvantis_session"), std::nullopt);

  EXPECT_EQ(ParseId("1"), 1);
  EXPECT_EQ(ParseId("999999999999999999"), 999999999999999999);
  for (const char* bad : {"", "0", "01", "-1", "+1", "1e3", "1 ", "9999999999999999999", "12a"}) {
    EXPECT_EQ(ParseId(bad), std::nullopt) << bad;
  }
}

TEST(RequestParsing, PageTextIsEscapedAndRedirectsStayOnThisServer) {
  EXPECT_EQ(Html("<a href=\"x\">'&'</a>"), "&lt;a href=&quot;x&quot;&gt;&#39;&amp;&#39;&lt;/a&gt;");
  // Bytes that are not UTF-8 become U+FFFD; control characters go; good UTF-8 stays.
  EXPECT_EQ(Html("a\xFF"
                 "b\xC3\xA9\x01\xED\xA0\x80"),
            "a\xEF\xBF\xBD"
            "b\xC3\xA9\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD");
  EXPECT_EQ(UrlEncode("a b/&?é"), "a%20b%2F%26%3F%C3%A9");

  EXPECT_EQ(SafeNext("/live"), "/live");
  EXPECT_EQ(SafeNext("/events?day=2024-05-01"), "/events?day=2024-05-01");
  for (const char* away : {"", "/", "//evil.example", "/\\evil.example", "https://evil.example",
                           "/signout", "/signin?next=/x", "/a b", "/\r\nSet-Cookie:x"}) {
    EXPECT_EQ(SafeNext(away), "/events") << away;
  }
}

TEST(Thumbnails, AreTheWidthOfAListEntryInProportionAndRefuseWhatIsNoPicture) {
  auto size = [](const std::string& jpeg) {
    // The SOF0 marker holds height and width.
    const auto at = jpeg.find("\xFF\xC0");
    EXPECT_NE(at, std::string::npos);
    auto byte = [&](std::size_t i) { return static_cast<unsigned char>(jpeg[at + i]); };
    return std::pair<int, int>(byte(7) * 256 + byte(8), byte(5) * 256 + byte(6));
  };
  for (const auto& [width, height, expected] :
       std::vector<std::tuple<int, int, std::pair<int, int>>>{{640, 480, {240, 180}},
                                                              {1920, 1080, {240, 135}},
                                                              {250, 100, {240, 96}},
                                                              {160, 120, {160, 120}},
                                                              {3000, 10, {240, 1}}}) {
    const auto thumbnail = MakeThumbnail(testing::TestJpeg(width, height, 1));
    ASSERT_TRUE(thumbnail) << width;
    EXPECT_EQ(size(*thumbnail), expected) << width << "x" << height;
  }
  std::string cut = testing::TestJpeg(640, 480, 2);
  EXPECT_FALSE(MakeThumbnail(cut.substr(0, 300)));
  EXPECT_FALSE(MakeThumbnail("not a picture"));
  EXPECT_FALSE(MakeThumbnail(""));
}

}  // namespace
}  // namespace corvantis::server
