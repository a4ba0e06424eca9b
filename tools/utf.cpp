#include "utf.h"

namespace vfbtool {

void AppendUtf8(std::string &out, char32_t cp) {
    if (cp < 0x80) {
        out += static_cast<char>(cp);
    } else if (cp < 0x800) {
        out += static_cast<char>(0xC0 | (cp >> 6));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        out += static_cast<char>(0xE0 | (cp >> 12));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (cp >> 18));
        out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    }
}

namespace {

// The length of the well-formed sequence at `i`, or 0 with `*bad` at the
// first byte that cannot start or continue it. The bounds on the second byte
// are what exclude overlong forms, surrogates and values past U+10FFFF
// (RFC 3629's table).
std::size_t DecodeOne(std::string_view utf8, std::size_t i, char32_t *cp, std::size_t *bad) {
    const unsigned char lead = static_cast<unsigned char>(utf8[i]);
    if (lead < 0x80) {
        *cp = lead;
        return 1;
    }
    std::size_t extra;
    unsigned char lo = 0x80, hi = 0xBF;
    if (lead >= 0xC2 && lead <= 0xDF) {
        extra = 1;
        *cp = lead & 0x1F;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        extra = 2;
        *cp = lead & 0x0F;
        if (lead == 0xE0) lo = 0xA0;
        if (lead == 0xED) hi = 0x9F;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        extra = 3;
        *cp = lead & 0x07;
        if (lead == 0xF0) lo = 0x90;
        if (lead == 0xF4) hi = 0x8F;
    } else {
        *bad = i;
        return 0;
    }
    for (std::size_t k = 1; k <= extra; ++k) {
        const unsigned char c = i + k < utf8.size() ? static_cast<unsigned char>(utf8[i + k]) : 0;
        const unsigned char min = k == 1 ? lo : 0x80;
        const unsigned char max = k == 1 ? hi : 0xBF;
        if (i + k >= utf8.size() || c < min || c > max) {
            *bad = i + k;
            return 0;
        }
        *cp = (*cp << 6) | (c & 0x3F);
    }
    return extra + 1;
}

}  // namespace

std::optional<WString> Utf8ToWide(std::string_view utf8, std::size_t *bad_offset) {
    WString out;
    out.reserve(utf8.size());
    std::size_t i = 0;
    while (i < utf8.size()) {
        char32_t cp = 0;
        std::size_t bad = 0;
        const std::size_t length = DecodeOne(utf8, i, &cp, &bad);
        if (!length) {
            if (bad_offset) *bad_offset = bad;
            return std::nullopt;
        }
        if (cp >= 0x10000) {
            cp -= 0x10000;
            out += static_cast<VFB_WCHAR>(0xD800 + (cp >> 10));
            out += static_cast<VFB_WCHAR>(0xDC00 + (cp & 0x3FF));
        } else {
            out += static_cast<VFB_WCHAR>(cp);
        }
        i += length;
    }
    return out;
}

std::string ValidUtf8(std::string_view bytes) {
    std::string out;
    out.reserve(bytes.size());
    for (std::size_t i = 0; i < bytes.size();) {
        char32_t cp = 0;
        std::size_t bad = 0;
        const std::size_t length = DecodeOne(bytes, i, &cp, &bad);
        if (length) {
            out.append(bytes.substr(i, length));
            i += length;
        } else {
            AppendUtf8(out, 0xFFFD);
            ++i;
        }
    }
    return out;
}

std::string WideToUtf8(const VFB_WCHAR *wide) {
    std::string out;
    if (!wide) return out;
    for (const VFB_WCHAR *p = wide; *p; ++p) {
        const char32_t unit = static_cast<char16_t>(*p);
        if (unit >= 0xD800 && unit <= 0xDBFF) {
            const char32_t next = static_cast<char16_t>(p[1]);
            if (next >= 0xDC00 && next <= 0xDFFF) {
                AppendUtf8(out, 0x10000 + ((unit - 0xD800) << 10) + (next - 0xDC00));
                ++p;
                continue;
            }
            AppendUtf8(out, 0xFFFD);
        } else if (unit >= 0xDC00 && unit <= 0xDFFF) {
            AppendUtf8(out, 0xFFFD);
        } else {
            AppendUtf8(out, unit);
        }
    }
    return out;
}

}  // namespace vfbtool
