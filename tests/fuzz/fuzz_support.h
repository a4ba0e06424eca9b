// Shared by the fuzz targets: how fuzz bytes become wide texts, and reference
// conversions written independently of the library so that the checks compare
// two implementations rather than one with itself.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "text/wide.h"

// A violated property must stop the run where libFuzzer sees it, in every build
// type: assert() would vanish under NDEBUG.
#define FUZZ_CHECK(condition)                                                                       \
    do {                                                                                            \
        if (!(condition)) {                                                                         \
            std::fprintf(stderr, "%s:%d: property violated: %s\n", __FILE__, __LINE__, #condition); \
            std::abort();                                                                           \
        }                                                                                           \
    } while (0)

namespace vfb::fuzz {

inline int HexValue(unsigned char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// Strict UTF-8 (no overlong forms, no surrogates, nothing past U+10FFFF):
// the code points, or nothing when any byte is out of place.
inline std::optional<std::vector<char32_t>> DecodeUtf8Strict(std::string_view bytes) {
    std::vector<char32_t> out;
    std::size_t i = 0;
    while (i < bytes.size()) {
        const auto lead = static_cast<unsigned char>(bytes[i]);
        int length;
        char32_t cp;
        char32_t minimum;
        if (lead < 0x80) {
            out.push_back(lead);
            ++i;
            continue;
        } else if (lead >= 0xC2 && lead <= 0xDF) {
            length = 2, cp = lead & 0x1F, minimum = 0x80;
        } else if (lead >= 0xE0 && lead <= 0xEF) {
            length = 3, cp = lead & 0x0F, minimum = 0x800;
        } else if (lead >= 0xF0 && lead <= 0xF4) {
            length = 4, cp = lead & 0x07, minimum = 0x10000;
        } else {
            return std::nullopt;
        }
        if (bytes.size() - i < static_cast<std::size_t>(length)) return std::nullopt;
        for (int k = 1; k < length; ++k) {
            const auto next = static_cast<unsigned char>(bytes[i + k]);
            if ((next & 0xC0) != 0x80) return std::nullopt;
            cp = (cp << 6) | (next & 0x3F);
        }
        if (cp < minimum || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return std::nullopt;
        out.push_back(cp);
        i += length;
    }
    return out;
}

// What a wide text stands for: pairs joined, any unpaired surrogate as U+FFFD.
inline std::vector<char32_t> CodePointsOf(WStringView units) {
    std::vector<char32_t> out;
    for (std::size_t i = 0; i < units.size(); ++i) {
        const char32_t u = static_cast<char16_t>(units[i]);
        const bool high = u >= 0xD800 && u <= 0xDBFF;
        const bool nextLow = i + 1 < units.size() && static_cast<char16_t>(units[i + 1]) >= 0xDC00 &&
                             static_cast<char16_t>(units[i + 1]) <= 0xDFFF;
        if (high && nextLow) {
            out.push_back(0x10000 + ((u - 0xD800) << 10) + (static_cast<char16_t>(units[i + 1]) - 0xDC00));
            ++i;
        } else if (u >= 0xD800 && u <= 0xDFFF) {
            out.push_back(0xFFFD);
        } else {
            out.push_back(u);
        }
    }
    return out;
}

inline std::string EncodeUtf8(const std::vector<char32_t> &points) {
    std::string out;
    for (char32_t cp : points) {
        // Payload bits per byte are laid out from the most significant end.
        int length = cp < 0x80 ? 1 : cp < 0x800 ? 2 : cp < 0x10000 ? 3 : 4;
        static constexpr unsigned char kLeadMark[] = {0, 0x00, 0xC0, 0xE0, 0xF0};
        for (int k = 0; k < length; ++k) {
            const int shift = 6 * (length - 1 - k);
            const auto bits = static_cast<unsigned char>((cp >> shift) & (k == 0 ? 0x7F : 0x3F));
            out.push_back(static_cast<char>(k == 0 ? (kLeadMark[length] | bits) : (0x80 | bits)));
        }
    }
    return out;
}

// Fuzz bytes to wide units so that text seeds mean what they say: well-formed
// UTF-8 gives its code points, "\uXXXX" gives that unit (any surrogate or
// NUL), and any other byte gives the unit of the same value.
inline WString DecodeUnits(const std::uint8_t *data, std::size_t size) {
    WString out;
    std::size_t i = 0;
    while (i < size) {
        if (data[i] == '\\' && size - i >= 6 && data[i + 1] == 'u') {
            int value = 0;
            bool hex = true;
            for (int k = 2; k < 6 && hex; ++k) {
                const int digit = HexValue(data[i + k]);
                hex = digit >= 0;
                value = value * 16 + digit;
            }
            if (hex) {
                out.push_back(static_cast<WChar>(value));
                i += 6;
                continue;
            }
        }
        // The longest well-formed sequence at i, if any.
        std::optional<std::vector<char32_t>> one;
        std::size_t length = 1;
        for (std::size_t n = 1; n <= 4 && i + n <= size; ++n) {
            one = DecodeUtf8Strict(std::string_view(reinterpret_cast<const char *>(data) + i, n));
            if (one && one->size() == 1) {
                length = n;
                break;
            }
            one.reset();
        }
        if (!one) {
            out.push_back(static_cast<WChar>(data[i]));
            ++i;
            continue;
        }
        const char32_t cp = one->front();
        if (cp >= 0x10000) {
            out.push_back(static_cast<WChar>(0xD800 + ((cp - 0x10000) >> 10)));
            out.push_back(static_cast<WChar>(0xDC00 + ((cp - 0x10000) & 0x3FF)));
        } else {
            out.push_back(static_cast<WChar>(cp));
        }
        i += length;
    }
    return out;
}

inline WString DecodeUnits(std::string_view bytes) {
    return DecodeUnits(reinterpret_cast<const std::uint8_t *>(bytes.data()), bytes.size());
}

// Every "%XX" to its byte, everything else as it is; nothing when a '%' is
// not followed by two hexadecimal digits.
inline std::optional<std::string> PercentDecode(std::string_view text) {
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '%') {
            out.push_back(text[i]);
            continue;
        }
        if (i + 2 >= text.size()) return std::nullopt;
        const int hi = HexValue(static_cast<unsigned char>(text[i + 1]));
        const int lo = HexValue(static_cast<unsigned char>(text[i + 2]));
        if (hi < 0 || lo < 0) return std::nullopt;
        out.push_back(static_cast<char>(hi * 16 + lo));
        i += 2;
    }
    return out;
}

// The query-encoding table's rows, written out again: the bytes that are sent
// as %XX besides everything from 0x80 up. The braces are rows of their own.
inline bool QueryTableEscapes(unsigned char b) {
    static constexpr std::string_view kRows = "\n\r !$%&'()*+,/:;=?@";
    return b >= 0x80 || kRows.find(static_cast<char>(b)) != std::string_view::npos;
}

// The size the query encoding must give `narrow`.
inline std::size_t EncodedSize(std::string_view narrow) {
    std::size_t n = 0;
    for (char c : narrow) n += QueryTableEscapes(static_cast<unsigned char>(c)) ? 3 : 1;
    return n;
}

}  // namespace vfb::fuzz
