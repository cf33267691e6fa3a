// Reading what a browser sends beside the request line that Beast has parsed: the target's
// path and query, form bodies, cookies and ids. Every function takes any bytes at all and
// answers nothing for what it does not accept; none of them ever makes a file path.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace corvantis::server {

// A request target split at its first '?': "/events?day=2024-05-01" -> "/events",
// "day=2024-05-01". The path is never decoded: the gallery's routes are plain ASCII, so a
// path with an escape simply matches none of them.
struct Target {
  std::string_view path;
  std::string_view query;
};
Target SplitTarget(std::string_view target);

// The segments of a path: "/events/12/zip" -> {"events", "12", "zip"}, "/" -> {}. Nothing
// for a path that does not start with '/' or holds an empty segment ("//", a trailing '/').
std::optional<std::vector<std::string_view>> PathSegments(std::string_view path);

// Fields of a query string or an application/x-www-form-urlencoded body, in order, names
// and values decoded ('+' is a blank, %XX a byte). Nothing when an escape is bad or there
// are more than `maxFields` fields.
using FormFields = std::vector<std::pair<std::string, std::string>>;
std::optional<FormFields> ParseForm(std::string_view text, std::size_t maxFields = 32);

// The value of the first field called `name`, or nothing.
std::optional<std::string> FieldValue(const FormFields& fields, std::string_view name);

// The value of the cookie `name` in a Cookie header ("a=1; b=2"), or nothing. A value in
// double quotes is taken without them.
std::optional<std::string_view> CookieValue(std::string_view header, std::string_view name);

// An id as written in a path or a form: 1 to 18 decimal digits, no sign, no leading zero.
std::optional<int64_t> ParseId(std::string_view text);

}  // namespace corvantis::server
