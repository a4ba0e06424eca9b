// The escaping every request target and URL gets before it reaches a stack.
// Identifiers and tokens arrive here unencoded, so this is the only thing that
// stands between a caller's text and the request line.
#include <algorithm>
#include <cstddef>
#include <cstdint>

#include "fuzz_support.h"
#include "http/internet.h"

namespace vfb::fuzz {
namespace {

bool PassesRaw(unsigned char b) { return b > 0x20 && b < 0x7F && b != '\\'; }

// Independently of the library: which bytes of `narrow` belong to a path
// segment that is exactly "." or "..", before the first '?'.
std::vector<bool> DotSegmentBytes(const std::string &narrow) {
    std::vector<bool> marked(narrow.size(), false);
    const std::size_t pathEnd = std::min(narrow.find('?'), narrow.size());
    std::size_t start = 0;
    while (start <= pathEnd) {
        std::size_t end = narrow.find('/', start);
        if (end == std::string::npos || end > pathEnd) end = pathEnd;
        const std::string_view segment = std::string_view(narrow).substr(start, end - start);
        if (segment == "." || segment == "..")
            for (std::size_t i = start; i < end; ++i) marked[i] = true;
        start = end + 1;
    }
    return marked;
}

std::string Percent(unsigned char b) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    return std::string{'%', kHex[b >> 4], kHex[b & 0xF]};
}

void CheckEscaped(WStringView units) {
    const std::string escaped = EscapeRequestTarget(units);
    const std::string narrow = EncodeUtf8(CodePointsOf(units));

    // Nothing that could end the request line, start another, or be rewritten.
    for (unsigned char b : escaped) FUZZ_CHECK(PassesRaw(b));

    // No dot segment left before the query.
    const std::string path = escaped.substr(0, escaped.find('?'));
    std::size_t start = 0;
    for (;;) {
        const std::size_t slash = path.find('/', start);
        const std::string segment =
            path.substr(start, slash == std::string::npos ? std::string::npos : slash - start);
        FUZZ_CHECK(segment != "." && segment != "..");
        if (slash == std::string::npos) break;
        start = slash + 1;
    }

    // Exactly the bytes that need it are escaped, each as its own %XX, so
    // the server sees the caller's UTF-8 and nothing else.
    const std::vector<bool> dots = DotSegmentBytes(narrow);
    std::string expected;
    for (std::size_t i = 0; i < narrow.size(); ++i) {
        const auto b = static_cast<unsigned char>(narrow[i]);
        expected += (!PassesRaw(b) || dots[i]) ? Percent(b) : std::string(1, static_cast<char>(b));
    }
    FUZZ_CHECK(escaped == expected);
    if (narrow.find('%') == std::string::npos) {
        const std::optional<std::string> decoded = PercentDecode(escaped);
        FUZZ_CHECK(decoded.has_value() && *decoded == narrow);
    }

    // Nothing is left for a second pass (or a stack) to change.
    FUZZ_CHECK(EscapeRequestTarget(WidenAscii(escaped)) == escaped);
}

}  // namespace
}  // namespace vfb::fuzz

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    const vfb::WString units = vfb::fuzz::DecodeUnits(data, size);
    vfb::fuzz::CheckEscaped(units);
    return 0;
}
