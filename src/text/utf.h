// The one converter between UTF-16 and UTF-8. Header-only and free of the
// library's types, so that the test helpers use it too and the Linux and
// Windows builds (char16_t or wchar_t units) convert alike.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace vfb {
namespace utf {

constexpr char32_t kReplacement = 0xFFFD;

inline void AppendUtf8(std::string &out, char32_t cp) {
    if (cp < 0x80) {
        out.push_back(static_cast<char>(cp));
    } else if (cp < 0x800) {
        out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else if (cp < 0x10000) {
        out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else {
        out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    }
}

// UTF-8 of 16-bit units; an unpaired surrogate becomes U+FFFD.
template <typename Unit>
std::string ToUtf8(std::basic_string_view<Unit> text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        char32_t unit = static_cast<char16_t>(text[i]);
        if (unit >= 0xD800 && unit <= 0xDBFF && i + 1 < text.size()) {
            char32_t low = static_cast<char16_t>(text[i + 1]);
            if (low >= 0xDC00 && low <= 0xDFFF) {
                AppendUtf8(out, 0x10000 + ((unit - 0xD800) << 10) + (low - 0xDC00));
                ++i;
                continue;
            }
        }
        AppendUtf8(out, (unit >= 0xD800 && unit <= 0xDFFF) ? kReplacement : unit);
    }
    return out;
}

// 16-bit units of UTF-8 text; a malformed sequence becomes U+FFFD and
// conversion resumes at the next byte. `first_bad` receives the offset of the
// first malformed sequence (npos when there is none), for callers that must
// refuse rather than replace.
template <typename Unit>
std::basic_string<Unit> FromUtf8(std::string_view utf8, std::size_t *first_bad = nullptr) {
    if (first_bad) *first_bad = std::string_view::npos;
    std::basic_string<Unit> out;
    out.reserve(utf8.size());
    for (std::size_t i = 0; i < utf8.size();) {
        const auto lead = static_cast<unsigned char>(utf8[i]);
        char32_t cp = kReplacement;
        std::size_t length = lead < 0x80           ? 1
                             : (lead >> 5) == 0x6  ? 2
                             : (lead >> 4) == 0xE  ? 3
                             : (lead >> 3) == 0x1E ? 4
                                                   : 0;
        if (length == 1) {
            cp = lead;
        } else if (length > 1 && i + length <= utf8.size()) {
            char32_t value = lead & (0x7F >> length);
            for (std::size_t k = 1; k < length && length; ++k) {
                const auto c = static_cast<unsigned char>(utf8[i + k]);
                if ((c & 0xC0) != 0x80) length = 0;
                value = (value << 6) | (c & 0x3F);
            }
            static constexpr char32_t kLeast[] = {0, 0, 0x80, 0x800, 0x10000};
            if (length && value >= kLeast[length] && value <= 0x10FFFF && (value < 0xD800 || value > 0xDFFF))
                cp = value;
            else
                length = 0;
        } else {
            length = 0;
        }
        if (!length && first_bad && *first_bad == std::string_view::npos) *first_bad = i;
        i += length ? length : 1;
        if (cp >= 0x10000) {
            out.push_back(static_cast<Unit>(0xD800 + ((cp - 0x10000) >> 10)));
            out.push_back(static_cast<Unit>(0xDC00 + ((cp - 0x10000) & 0x3FF)));
        } else {
            out.push_back(static_cast<Unit>(cp));
        }
    }
    return out;
}

}  // namespace utf
}  // namespace vfb
