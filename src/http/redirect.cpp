#include "http/redirect.h"

#include <cstddef>

#include "text/ascii.h"

namespace vfb {

namespace {

bool IsAlpha(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }
bool IsDigit(char c) { return c >= '0' && c <= '9'; }
bool IsHex(char c) { return IsDigit(c) || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F'); }

struct Url {
    std::string scheme;     // "http" or "https"
    std::string authority;  // host, or host:port with the port as a plain number
    std::string path;       // as written (may be empty)
    std::string query;      // without its "?"; empty when none
};

// Splits "path?query#fragment": the fragment is dropped.
void SplitPathQuery(std::string_view rest, std::string *path, std::string *query) {
    rest = rest.substr(0, rest.find('#'));
    const std::size_t mark = rest.find('?');
    *path = std::string(rest.substr(0, mark));
    *query = mark == std::string_view::npos ? std::string() : std::string(rest.substr(mark + 1));
}

// host[:port] with no user information: a plain name (letters, digits, "-",
// "." and "_") or a bracketed IPv6 address, and a port of at most 65535
// (an empty one is dropped, leading zeros are not kept).
bool NormalizeAuthority(std::string_view authority, std::string *out) {
    if (authority.find('@') != std::string_view::npos) return false;
    std::size_t hostEnd = 0;
    if (!authority.empty() && authority.front() == '[') {
        hostEnd = authority.find(']');
        if (hostEnd == std::string_view::npos || hostEnd < 2) return false;
        for (std::size_t i = 1; i < hostEnd; ++i)
            if (!IsHex(authority[i]) && authority[i] != ':' && authority[i] != '.') return false;
        ++hostEnd;
    } else {
        while (hostEnd < authority.size() && authority[hostEnd] != ':') {
            const char c = authority[hostEnd];
            if (!IsAlpha(c) && !IsDigit(c) && c != '-' && c != '.' && c != '_') return false;
            ++hostEnd;
        }
        if (hostEnd == 0) return false;
    }
    *out = std::string(authority.substr(0, hostEnd));
    if (hostEnd == authority.size()) return true;
    if (authority[hostEnd] != ':') return false;
    const std::string_view port = authority.substr(hostEnd + 1);
    unsigned long value = 0;
    for (char c : port) {
        if (!IsDigit(c)) return false;
        value = value * 10 + static_cast<unsigned long>(c - '0');
        if (value > 65535) return false;
    }
    if (!port.empty()) *out += ":" + std::to_string(value);
    return true;
}

// "scheme:" then one to three slashes, the authority, path, query.
bool ParseAbsolute(std::string_view text, Url *url) {
    const std::size_t colon = text.find(':');
    if (colon == std::string_view::npos || colon == 0 || !IsAlpha(text[0])) return false;
    url->scheme.clear();
    for (std::size_t i = 0; i < colon; ++i) url->scheme += AsciiLower(text[i]);
    if (url->scheme != "http" && url->scheme != "https") return false;
    std::size_t at = colon + 1;
    std::size_t slashes = 0;
    while (at < text.size() && text[at] == '/') ++at, ++slashes;
    if (slashes < 1 || slashes > 3) return false;
    const std::size_t authorityEnd = text.find_first_of("/?#", at);
    const std::string_view authority =
        text.substr(at, authorityEnd == std::string_view::npos ? std::string_view::npos : authorityEnd - at);
    if (!NormalizeAuthority(authority, &url->authority)) return false;
    SplitPathQuery(authorityEnd == std::string_view::npos ? std::string_view() : text.substr(authorityEnd),
                   &url->path, &url->query);
    return true;
}

// RFC 3986 section 5.2.4.
std::string RemoveDotSegments(std::string_view in) {
    std::string out;
    while (!in.empty()) {
        if (in.substr(0, 3) == "../") {
            in.remove_prefix(3);
        } else if (in.substr(0, 2) == "./") {
            in.remove_prefix(2);
        } else if (in.substr(0, 3) == "/./") {
            in.remove_prefix(2);
        } else if (in == "/.") {
            in = "/";
        } else if (in.substr(0, 4) == "/../" || in == "/..") {
            in = in.size() == 3 ? std::string_view("/") : in.substr(3);
            const std::size_t last = out.rfind('/');
            out.erase(last == std::string::npos ? 0 : last);
        } else if (in == "." || in == "..") {
            in = std::string_view();
        } else {
            const std::size_t next = in.find('/', 1);
            out.append(in.substr(0, next));
            in = next == std::string_view::npos ? std::string_view() : in.substr(next);
        }
    }
    return out;
}

// A Location's own bytes on their way into a URL: a space becomes %20 in the
// path and "+" in the query, a byte from 0x80 up "%xx" (lower-case hex, as
// libcurl writes them); everything else stays as written.
std::string Encode(std::string_view part, bool query) {
    static constexpr char kHex[] = "0123456789abcdef";
    std::string out;
    out.reserve(part.size());
    for (char c : part) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte == ' ') {
            out += query ? "+" : "%20";
        } else if (byte >= 0x80) {
            out += '%';
            out += kHex[byte >> 4];
            out += kHex[byte & 0xF];
        } else {
            out += c;
        }
    }
    return out;
}

}  // namespace

std::string ResolveRedirect(std::string_view current, std::string_view location, bool httpsOnly) {
    for (char c : location) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x20 || byte == 0x7F) return std::string();
    }
    Url base;
    if (!ParseAbsolute(current, &base)) return std::string();

    Url target;
    const std::size_t special = location.find_first_of("/?#");
    const std::size_t colon = location.find(':');
    if (colon != std::string_view::npos && colon < special) {
        // A scheme: an absolute URL (or something no redirect may lead to).
        if (!ParseAbsolute(location, &target)) return std::string();
        target.path = Encode(target.path, false);
    } else if (location.substr(0, 2) == "//") {
        // Scheme-relative: the current scheme, everything else from the Location.
        if (!ParseAbsolute(base.scheme + ":" + std::string(location), &target)) return std::string();
        target.path = Encode(target.path, false);
    } else {
        target.scheme = base.scheme;
        target.authority = base.authority;
        SplitPathQuery(location, &target.path, &target.query);
        if (!target.path.empty() && target.path.front() == '/') {
            target.path = Encode(target.path, false);
        } else if (target.path.empty() && !location.empty() && location.front() == '?') {
            // A query alone replaces only the query (RFC 3986 section 5.2.2).
            target.path = base.path;
        } else {
            // Merged with the current path's directory (section 5.2.3). A
            // fragment alone ("#top") counts as an empty path here, as
            // libcurl takes it: the current path's directory.
            const std::size_t slash = base.path.rfind('/');
            target.path = (slash == std::string::npos ? std::string("/") : base.path.substr(0, slash + 1)) +
                          Encode(target.path, false);
        }
    }
    target.query = Encode(target.query, true);
    if (httpsOnly && target.scheme != "https") return std::string();

    std::string path = RemoveDotSegments(target.path);
    if (path.empty() || path.front() != '/') path.insert(path.begin(), '/');
    std::string resolved = target.scheme + "://" + target.authority + path;
    if (!target.query.empty()) resolved += "?" + target.query;
    return resolved;
}

}  // namespace vfb
