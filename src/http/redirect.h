// The URL fetch's redirect rule, for a platform layer that follows redirects
// by hand (the WinINet layer; the libcurl layer applies the same rule with
// libcurl's own URL parser). Portable: bytes in, bytes out, no platform call.
#pragma once

#include <string>
#include <string_view>

namespace vfb {

// At most this many redirects are followed; the answer after the last one
// must not be another followed redirect.
constexpr int kMaxRedirects = 10;

// The statuses the platform's stack has always followed (with a non-empty
// Location); any other 3xx (300, 305, 308, ...) is the answer itself.
constexpr bool IsFollowedRedirect(unsigned long status) {
    return status == 301 || status == 302 || status == 303 || status == 307;
}

// Where a redirect leads: `location` (a Location value, surrounding blanks
// already trimmed) resolved against `current`, the absolute http or https
// URL of the hop that answered it (RFC 3986 section 5.2, as libcurl resolves
// it): absolute URLs, scheme-relative "//host/...", absolute and relative
// paths, "?query" against the current path; dot segments removed, an empty
// path made "/", an empty query dropped and the fragment never kept. Spaces
// become %20 in the path and "+" in the query, bytes from 0x80 up "%xx".
//
// Empty when the redirect is not to be followed: a scheme other than http or
// https, http when `httpsOnly`, a user name or password ("user@host",
// "host@other"), no host, a host that is no plain name or bracketed address,
// a port that is no number up to 65535, or a control byte anywhere.
std::string ResolveRedirect(std::string_view current, std::string_view location, bool httpsOnly);

}  // namespace vfb
