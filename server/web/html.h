// Text as it may appear inside the gallery's HTML pages and links.
#pragma once

#include <string>
#include <string_view>

namespace corvantis::server {

// `text` safe inside an element or a quoted attribute value: & < > " ' written as references,
// every byte sequence that is not UTF-8 as U+FFFD, control characters other than tab and line
// feed dropped. A user name may hold any byte, and must neither break a page nor inject one.
std::string Html(std::string_view text);

// `text` as one query value: every byte but A-Z a-z 0-9 - . _ ~ written as %XX.
std::string UrlEncode(std::string_view text);

}  // namespace corvantis::server
