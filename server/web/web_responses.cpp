#include "server/web/web_responses.h"

namespace corvantis::server {

WebResponse PageResponse(unsigned status, std::string html) {
  WebResponse response;
  response.status = status;
  response.contentType = "text/html; charset=utf-8";
  response.fields.emplace_back("Cache-Control", "no-store");
  response.body = std::move(html);
  return response;
}

WebResponse Redirect(const std::string& location) {
  WebResponse response;
  response.status = 303;
  response.fields.emplace_back("Location", location);
  response.fields.emplace_back("Cache-Control", "no-store");
  return response;
}

WebResponse TextResponse(unsigned status, const std::string& text) {
  WebResponse response;
  response.status = status;
  response.contentType = "text/plain; charset=utf-8";
  response.fields.emplace_back("Cache-Control", "no-store");
  response.body = text + "\n";
  return response;
}

std::string SessionCookie(const std::string& id, bool tls) {
  std::string cookie =
      std::string(kSessionCookie) + "=" + id + "; Path=/; HttpOnly; SameSite=Strict";
  if (id.empty()) cookie += "; Max-Age=0";
  if (tls) cookie += "; Secure";
  return cookie;
}

}  // namespace corvantis::server
