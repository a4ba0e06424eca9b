#include "text/text.h"

#include <array>

#include "text/utf.h"

namespace vfb {

namespace {

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

std::string NarrowText(WStringView text) { return utf::ToUtf8(text); }

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
