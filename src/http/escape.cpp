#include <string>

#include "text/text.h"
#include "http/internet.h"

namespace vfb {

namespace {

void AppendPercent(std::string &out, unsigned char byte) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    out.push_back('%');
    out.push_back(kHex[byte >> 4]);
    out.push_back(kHex[byte & 0xF]);
}

bool IsDotSegment(std::string_view segment) { return segment == "." || segment == ".."; }

}  // namespace

std::string EscapeRequestTarget(WStringView target) {
    const std::string narrow = NarrowText(target);
    std::string out;
    out.reserve(narrow.size() + 16);
    const std::size_t queryStart = narrow.find('?');
    const std::size_t pathEnd = queryStart == std::string::npos ? narrow.size() : queryStart;
    std::size_t segmentStart = 0;
    for (std::size_t i = 0; i < narrow.size(); ++i) {
        const auto byte = static_cast<unsigned char>(narrow[i]);
        if (i < pathEnd && (i == segmentStart)) {
            // WinINet drops "." and ".." path segments on its own; escaped
            // dots keep both builds sending the identifier the caller gave.
            std::size_t end = narrow.find('/', i);
            if (end == std::string::npos || end > pathEnd) end = pathEnd;
            if (IsDotSegment(std::string_view(narrow).substr(i, end - i))) {
                for (; i < end; ++i) AppendPercent(out, '.');
                --i;
                continue;
            }
        }
        if (byte == '/' && i < pathEnd) segmentStart = i + 1;
        if (byte <= 0x20 || byte >= 0x7F || byte == '\\') {
            AppendPercent(out, byte);
        } else {
            out.push_back(static_cast<char>(byte));
        }
    }
    return out;
}

}  // namespace vfb
