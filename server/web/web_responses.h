// The shapes of response the gallery gives.
#pragma once

#include <string>

#include "server/web/web_exchange.h"

namespace corvantis::server {

// A page: HTML, never kept by any cache (it shows an account's data, and after a sign-out
// the back button must not bring it back).
WebResponse PageResponse(unsigned status, std::string html);
// "303 See Other" to `location` (a path of this server).
WebResponse Redirect(const std::string& location);
// A short plain-text answer, for what is not a page (a picture, a stream, a download).
WebResponse TextResponse(unsigned status, const std::string& text);

// The session cookie: its name, and the Set-Cookie value that sets it (or, for an empty
// id, ends it). HttpOnly and SameSite=Strict always, Secure under TLS.
inline constexpr const char* kSessionCookie = "corvantis_session";
std::string SessionCookie(const std::string& id, bool tls);

}  // namespace corvantis::server
