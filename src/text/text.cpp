#include "text/text.h"

#include <array>

#if defined(_WIN32)
#include <windows.h>
#endif

namespace vfb {

namespace {

[[maybe_unused]] constexpr char32_t kReplacement = 0xFFFD;

[[maybe_unused]] void AppendUtf8(std::string &out, char32_t cp) {
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

// Replacement for each byte, or null when it passes unchanged.
constexpr std::array<const char *, 256> MakeQueryTable() {
    std::array<const char *, 256> t{};
    t[0x0A] = "%0A";
    t[0x0D] = "%0D";
    t[0x20] = "%20";
    t[0x21] = "%21";
    t[0x24] = "%24";
    t[0x25] = "%25";
    t[0x26] = "%26";
    t[0x27] = "%27";
    t[0x28] = "%28";
    t[0x29] = "%29";
    t[0x2A] = "%2A";
    t[0x2B] = "%2B";
    t[0x2C] = "%2C";
    t[0x2F] = "%2F";
    t[0x3A] = "%3A";
    t[0x3B] = "%3B";
    t[0x3D] = "%3D";
    t[0x3F] = "%3F";
    t[0x40] = "%40";
    t[0x7B] = "&";
    t[0x7D] = "=";
    return t;
}
constexpr auto kQueryTable = MakeQueryTable();

}  // namespace

std::string NarrowText(WStringView text) {
#if defined(_WIN32)
    // The platform's own conversion; it substitutes U+FFFD for unpaired
    // surrogates just as the portable converter below does.
    if (text.empty() || text.size() > 0x3FFFFFFF) return std::string();
    int n = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr,
                                nullptr);
    std::string converted(n > 0 ? static_cast<std::size_t>(n) : 0, '\0');
    if (n > 0)
        WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), converted.data(), n,
                            nullptr, nullptr);
    return converted;
#else
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
#endif
}

std::string NarrowText(const WChar *text) { return NarrowText(ViewOf(text)); }

std::string EncodeQueryText(std::string_view narrow) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string out;
    out.reserve(narrow.size() * 3);
    for (char c : narrow) {
        auto byte = static_cast<unsigned char>(c);
        if (const char *replacement = kQueryTable[byte]) {
            out += replacement;
        } else if (byte >= 0x80) {
            out.push_back('%');
            out.push_back(kHex[byte >> 4]);
            out.push_back(kHex[byte & 0xF]);
        } else {
            out.push_back(c);
        }
    }
    return out;
}

WString WidenText(std::string_view narrow) {
    WString out;
    out.reserve(narrow.size());
    for (char c : narrow) out.push_back(static_cast<WChar>(static_cast<unsigned char>(c)));
    return out;
}

std::optional<WString> PrepareQueryText(const WChar *text) {
    std::string narrow = NarrowText(text);
    if (narrow.size() > kMaxNarrowBytes) return std::nullopt;
    std::string encoded = EncodeQueryText(narrow);
    if (encoded.size() > kMaxEncodedBytes) return std::nullopt;
    return WidenText(encoded);
}

std::optional<WString> FormatTemplate(WStringView templ, std::initializer_list<WStringView> args,
                                      std::size_t maxUnits) {
    WString out;
    auto next = args.begin();
    for (std::size_t i = 0; i < templ.size(); ++i) {
        if (templ[i] == '%' && i + 1 < templ.size() && templ[i + 1] == 's' && next != args.end()) {
            out.append(next->data(), next->size());
            ++next;
            ++i;
        } else {
            out.push_back(templ[i]);
        }
        if (out.size() > maxUnits) return std::nullopt;
    }
    return out;
}

}  // namespace vfb
