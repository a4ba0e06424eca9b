// The portable redirect resolver (src/http/redirect.cpp) that the WinINet
// layer follows redirects with, held to the libcurl layer's rule: for every
// pair below it must lead where libcurl's URL API (used the way
// curl_internet.cpp's RedirectTarget and the next hop use it) leads, or be
// refused where that hop would fail.
#include <curl/curl.h>
#include <gtest/gtest.h>

#include <string>

#include "http/redirect.h"

namespace vfb {
namespace {

const char *const kBase = "https://graph.facebook.com/x/y?q=1";

// Where the libcurl build's next hop goes, as "scheme://authority/path?query",
// or "" when that hop fails (a user name, a scheme it may not use, no URL).
std::string CurlHop(const std::string &current, const std::string &location) {
    std::string result;
    char *resolved = nullptr;
    CURLU *url = curl_url();
    if (curl_url_set(url, CURLUPART_URL, current.c_str(), 0) == CURLUE_OK &&
        curl_url_set(url, CURLUPART_URL, location.c_str(), CURLU_URLENCODE | CURLU_ALLOW_SPACE) == CURLUE_OK &&
        curl_url_get(url, CURLUPART_URL, &resolved, 0) == CURLUE_OK) {
        // The transfer parses the hop's URL again, refusing user names.
        CURLU *hop = curl_url();
        char *scheme = nullptr, *host = nullptr, *port = nullptr, *path = nullptr, *query = nullptr;
        if (curl_url_set(hop, CURLUPART_URL, resolved,
                         CURLU_GUESS_SCHEME | CURLU_NON_SUPPORT_SCHEME | CURLU_DISALLOW_USER) == CURLUE_OK &&
            curl_url_get(hop, CURLUPART_SCHEME, &scheme, 0) == CURLUE_OK &&
            curl_url_get(hop, CURLUPART_HOST, &host, 0) == CURLUE_OK &&
            curl_url_get(hop, CURLUPART_PATH, &path, CURLU_URLENCODE) == CURLUE_OK) {
            const std::string s = scheme;
            // The protocols the transfer allows: never http once https was asked for.
            const bool secure = current.compare(0, 6, "https:") == 0;
            if (s == "https" || (s == "http" && !secure)) {
                result = s + "://" + host;
                if (curl_url_get(hop, CURLUPART_PORT, &port, 0) == CURLUE_OK) result += std::string(":") + port;
                result += path;
                if (curl_url_get(hop, CURLUPART_QUERY, &query, 0) == CURLUE_OK && *query)
                    result += std::string("?") + query;
            }
        }
        curl_free(scheme);
        curl_free(host);
        curl_free(port);
        curl_free(path);
        curl_free(query);
        curl_url_cleanup(hop);
    }
    curl_free(resolved);
    curl_url_cleanup(url);
    return result;
}

std::string Ours(const std::string &current, const std::string &location) {
    return ResolveRedirect(current, location, current.compare(0, 6, "https:") == 0);
}

struct Pair {
    const char *current;
    const char *location;
};

// Every kind the brief names, RFC 3986 section 5.4's examples, and the
// oddities a server may send.
const Pair kPairs[] = {
    {kBase, "/after/one?x=1&y=%20z"},
    {kBase, "?q2"},
    {kBase, "?q2#f"},
    {kBase, "?"},
    {kBase, "?#"},
    {kBase, "?a b"},
    {kBase, "a/b"},
    {kBase, "../a"},
    {kBase, "../../../a"},
    {kBase, "./a/./b/../c"},
    {kBase, "a/../../b"},
    {kBase, "."},
    {kBase, ".."},
    {"https://graph.facebook.com/x/y/?q=1", ".."},
    {kBase, "//api.facebook.com/p?z"},
    {kBase, "//api.facebook.com"},
    {kBase, "//api.facebook.com:/p"},
    {kBase, "//api.facebook.com:0443/p"},
    {kBase, "///x"},
    {kBase, "//"},
    {kBase, "https://api.facebook.com"},
    {kBase, "https://api.facebook.com?a"},
    {kBase, "https://api.facebook.com#x"},
    {kBase, "https://api.facebook.com/p?"},
    {kBase, "HTTPS://API.facebook.com/A"},
    {kBase, "Https://api.facebook.com/p"},
    {kBase, "https:/api.facebook.com/p"},
    {kBase, "https:///api.facebook.com/p"},
    {kBase, "https:////api.facebook.com/p"},
    {kBase, "https:api.facebook.com/p"},
    {kBase, "https://"},
    {kBase, "https://api.facebook.com:444/p"},
    {kBase, "https://api.facebook.com:443/p"},
    {kBase, "https://api.facebook.com:0/p"},
    {kBase, "https://api.facebook.com:99999/p"},
    {kBase, "https://api.facebook.com:44x/p"},
    {kBase, "https://api_x.facebook.com/p"},
    {kBase, "https://[::1]/p"},
    {kBase, "https://[::1]:8/p"},
    {kBase, "https://a.com/p/../../q"},
    {kBase, "https://a.com/p/./q"},
    {kBase, "https://a.com/p/%2e/q"},
    {kBase, "https://api.facebook.com/a b?c d"},
    {kBase, "https://api.facebook.com/\xC3\xBC?\xC3\xBC"},
    {kBase, "/Gr\xC3\xBC\xC3\x9F" "e?\xC3\xBC=1"},
    {kBase, "a b?c d"},
    {kBase, "/a b#c"},
    {kBase, "/a?b#c d"},
    {kBase, "#frag"},
    {kBase, "/p#frag"},
    {kBase, "https://api.facebook.com/p?a#frag"},
    // Leaving TLS, other schemes, user names: never followed.
    {kBase, "http://api.facebook.com/"},
    {kBase, "HTTP://api.facebook.com/p"},
    {"http://graph.facebook.com/x/y?q=1", "https://api.facebook.com/p"},
    {"http://graph.facebook.com/x/y?q=1", "http://api.facebook.com/p"},
    {"http://graph.facebook.com/x/y?q=1", "/p"},
    {kBase, "ftp://api.facebook.com/"},
    {kBase, "mailto:x@y"},
    {kBase, "g:h"},
    {kBase, "http:g"},
    {kBase, "1https://api.facebook.com/p"},
    {kBase, "https://u@api.facebook.com/"},
    {kBase, "https://u:p@api.facebook.com/"},
    {kBase, "https://:p@api.facebook.com/"},
    {kBase, "https://graph.facebook.com@evil.com/"},
    {kBase, "//u@evil.com/"},
    {kBase, "/a@b"},
    {kBase, "https://exa mple.com/"},
    {kBase, "https://api.facebook.com\\p"},
    {kBase, "https:\\\\api.facebook.com\\p"},
    // Control bytes anywhere.
    {kBase, "/a\tb"},
    {kBase, "/a\x7f" "b"},
    {kBase, "/a\x01" "b"},
    {kBase, "?a\x7f"},
    {kBase, "https://api.facebook.com/a\tb"},
    // Percent signs and dots as written.
    {kBase, "/a%zz"},
    {kBase, "/a/%2e%2e/b"},
    {kBase, "/a/b/.."},
    {kBase, "/a/b/."},
    {kBase, "/.."},
    {kBase, "/./a"},
    {kBase, "/a/./b/../../c/"},
    {kBase, "/a?b/../c"},
    {kBase, "a?b/../c"},
    {kBase, ";x"},
    {kBase, "g;x?y#s"},
    {kBase, "/a\\b"},
    {kBase, "\\\\evil.com/x"},
    // A current URL without a path, or with escaped dots and backslashes.
    {"https://graph.facebook.com", "a"},
    {"https://graph.facebook.com", "?a"},
    {"https://graph.facebook.com?x=1", "?a"},
    {"https://graph.facebook.com?x=1", "b"},
    {"https://graph.facebook.com:443/x", "y"},
    {"https://graph.facebook.com/a/%2E%2E/c", "d"},
    {"https://graph.facebook.com/a/b%5Cc/d", "e"},
    {"https://graph.facebook.com/x/%2e/y", ".."},
    {"https://graph.facebook.com/x/y", "../a b/c"},
    // RFC 3986 section 5.4.1 and 5.4.2 (the base "http://a/b/c/d;p?q" on this host).
    {"https://graph.facebook.com/b/c/d;p?q", "g"},
    {"https://graph.facebook.com/b/c/d;p?q", "./g"},
    {"https://graph.facebook.com/b/c/d;p?q", "g/"},
    {"https://graph.facebook.com/b/c/d;p?q", "/g"},
    {"https://graph.facebook.com/b/c/d;p?q", "//g"},
    {"https://graph.facebook.com/b/c/d;p?q", "?y"},
    {"https://graph.facebook.com/b/c/d;p?q", "g?y"},
    {"https://graph.facebook.com/b/c/d;p?q", "g#s"},
    {"https://graph.facebook.com/b/c/d;p?q", "g?y#s"},
    {"https://graph.facebook.com/b/c/d;p?q", ";x"},
    {"https://graph.facebook.com/b/c/d;p?q", "g;x"},
    {"https://graph.facebook.com/b/c/d;p?q", "g;x?y#s"},
    {"https://graph.facebook.com/b/c/d;p?q", "../g"},
    {"https://graph.facebook.com/b/c/d;p?q", "../.."},
    {"https://graph.facebook.com/b/c/d;p?q", "../../"},
    {"https://graph.facebook.com/b/c/d;p?q", "../../g"},
    {"https://graph.facebook.com/b/c/d;p?q", "../../../g"},
    {"https://graph.facebook.com/b/c/d;p?q", "../../../../g"},
    {"https://graph.facebook.com/b/c/d;p?q", "/./g"},
    {"https://graph.facebook.com/b/c/d;p?q", "/../g"},
    {"https://graph.facebook.com/b/c/d;p?q", "g."},
    {"https://graph.facebook.com/b/c/d;p?q", ".g"},
    {"https://graph.facebook.com/b/c/d;p?q", "g.."},
    {"https://graph.facebook.com/b/c/d;p?q", "..g"},
    {"https://graph.facebook.com/b/c/d;p?q", "./../g"},
    {"https://graph.facebook.com/b/c/d;p?q", "./g/."},
    {"https://graph.facebook.com/b/c/d;p?q", "g/./h"},
    {"https://graph.facebook.com/b/c/d;p?q", "g/../h"},
    {"https://graph.facebook.com/b/c/d;p?q", "g;x=1/./y"},
    {"https://graph.facebook.com/b/c/d;p?q", "g;x=1/../y"},
    {"https://graph.facebook.com/b/c/d;p?q", "g?y/./x"},
    {"https://graph.facebook.com/b/c/d;p?q", "g?y/../x"},
    {"https://graph.facebook.com/b/c/d;p?q", "http:g"},
};

TEST(Redirect, LeadsWhereTheLibcurlBuildGoes) {
    for (const Pair &p : kPairs)
        EXPECT_EQ(Ours(p.current, p.location), CurlHop(p.current, p.location))
            << "current " << p.current << ", Location " << p.location;
}

TEST(Redirect, TheBriefsKinds) {
    EXPECT_EQ(Ours(kBase, "https://api.facebook.com/final"), "https://api.facebook.com/final");
    EXPECT_EQ(Ours(kBase, "//api.facebook.com/p?z"), "https://api.facebook.com/p?z");
    EXPECT_EQ(Ours(kBase, "/after/one?x=1"), "https://graph.facebook.com/after/one?x=1");
    EXPECT_EQ(Ours(kBase, "../a/./b"), "https://graph.facebook.com/a/b");
    EXPECT_EQ(Ours(kBase, "next"), "https://graph.facebook.com/x/next");
    EXPECT_EQ(Ours(kBase, "?page=2"), "https://graph.facebook.com/x/y?page=2");
    EXPECT_EQ(Ours(kBase, "/p?a=1#frag"), "https://graph.facebook.com/p?a=1");
    // Never from https to http, never another scheme, never a user name.
    EXPECT_EQ(Ours(kBase, "http://graph.facebook.com/x"), "");
    EXPECT_EQ(Ours(kBase, "ftp://graph.facebook.com/x"), "");
    EXPECT_EQ(Ours(kBase, "https://user@graph.facebook.com/x"), "");
    EXPECT_EQ(Ours(kBase, "https://graph.facebook.com@evil.example/x"), "");
    EXPECT_EQ(Ours(kBase, "//user:pw@graph.facebook.com/x"), "");
    EXPECT_TRUE(IsFollowedRedirect(301) && IsFollowedRedirect(302) && IsFollowedRedirect(303) &&
                IsFollowedRedirect(307));
    EXPECT_FALSE(IsFollowedRedirect(300) || IsFollowedRedirect(304) || IsFollowedRedirect(305) ||
                 IsFollowedRedirect(308) || IsFollowedRedirect(200));
}

// Where libcurl accepts more than the portable rule does; the portable rule
// refuses (the call fails with 2 on Windows, where the Linux build would go on).
TEST(Redirect, HostsOnlyLibcurlTakes) {
    // An international name, and a percent-escape in the host.
    EXPECT_EQ(Ours(kBase, "https://gr\xC3\xBC\xC3\x9F" "e.example/"), "");
    EXPECT_EQ(Ours(kBase, "https://ex%41mple.com/"), "");
}

}  // namespace
}  // namespace vfb
