// The text chain every user text takes into a query: wide units -> UTF-8 ->
// the service's query encoding -> wide again, and the template filling that
// places the result. Each step is checked against what the caller and the
// request line rely on, not against a copy of its own code.
#include <cstddef>
#include <cstdint>

#include "fuzz_support.h"
#include "text/text.h"

namespace vfb::fuzz {
namespace {

void CheckNarrowing(WStringView units, const std::string &narrow) {
    // Valid UTF-8 that stands for the same code points, lone surrogates as U+FFFD.
    const std::optional<std::vector<char32_t>> decoded = DecodeUtf8Strict(narrow);
    FUZZ_CHECK(decoded.has_value());
    FUZZ_CHECK(*decoded == CodePointsOf(units));
    FUZZ_CHECK(narrow == EncodeUtf8(CodePointsOf(units)));
}

void CheckEncoding(const std::string &narrow, const std::string &encoded) {
    FUZZ_CHECK(encoded.size() == EncodedSize(narrow));
    // Walks the output back to the input: every %XX is a byte the table
    // escapes, '&' and '=' can only be braces, every other byte is one the
    // table lets through. Nothing that could end the line or the query is raw.
    std::string back;
    for (std::size_t i = 0; i < encoded.size(); ++i) {
        const auto b = static_cast<unsigned char>(encoded[i]);
        FUZZ_CHECK(b != '\r' && b != '\n' && b != ' ' && b < 0x80);
        if (b == '%') {
            FUZZ_CHECK(i + 2 < encoded.size());
            const auto hi = static_cast<unsigned char>(encoded[i + 1]);
            const auto lo = static_cast<unsigned char>(encoded[i + 2]);
            // Upper-case hexadecimal, as the service's table writes it.
            FUZZ_CHECK(HexValue(hi) >= 0 && !(hi >= 'a' && hi <= 'f'));
            FUZZ_CHECK(HexValue(lo) >= 0 && !(lo >= 'a' && lo <= 'f'));
            const auto original = static_cast<unsigned char>(HexValue(hi) * 16 + HexValue(lo));
            FUZZ_CHECK(QueryTableEscapes(original));
            back.push_back(static_cast<char>(original));
            i += 2;
        } else if (b == '&') {
            back.push_back('{');
        } else if (b == '=') {
            back.push_back('}');
        } else {
            FUZZ_CHECK(!QueryTableEscapes(b) && b != '{' && b != '}');
            back.push_back(static_cast<char>(b));
        }
    }
    FUZZ_CHECK(back == narrow);
    // Without braces a text adds no parameter: plain %XX decoding gives it back.
    if (narrow.find_first_of("{}") == std::string::npos) {
        FUZZ_CHECK(encoded.find_first_of("&=") == std::string::npos);
        const std::optional<std::string> decoded = PercentDecode(encoded);
        FUZZ_CHECK(decoded.has_value() && *decoded == narrow);
    }
}

void CheckWidening(const std::string &bytes, bool encoded) {
    const WString wide = WidenText(bytes);
    FUZZ_CHECK(wide.size() == bytes.size());
    for (std::size_t i = 0; i < wide.size(); ++i) {
        FUZZ_CHECK(static_cast<char16_t>(wide[i]) == static_cast<unsigned char>(bytes[i]));
        if (encoded) FUZZ_CHECK(static_cast<char16_t>(wide[i]) < 0x80);
    }
}

// The documented limits: a narrow form past 1999 bytes or an encoded form
// past 999 is refused; anything else is prepared whole, never cut.
void CheckPreparation(const WString &units) {
    const WStringView untilNul = WStringView(units).substr(0, units.find(WChar(0)));
    const std::string narrow = EncodeUtf8(CodePointsOf(untilNul));
    const bool refused = narrow.size() > 1999 || EncodedSize(narrow) > 999;
    const std::optional<WString> prepared = PrepareQueryText(units.c_str());
    FUZZ_CHECK(prepared.has_value() == !refused);
    if (prepared) FUZZ_CHECK(*prepared == WidenText(EncodeQueryText(narrow)));
    // The C-string form stops at the first NUL, like every caller's text.
    FUZZ_CHECK(NarrowText(units.c_str()) == narrow);
}

// Templates take their values in order, never expand a value's own "%s",
// and are refused, not cut, past the limit.
void CheckTemplate(WStringView units) {
    std::vector<WStringView> pieces;
    std::size_t start = 0;
    for (;;) {
        const std::size_t bar = units.find(WChar('|'), start);
        pieces.push_back(units.substr(start, bar == WStringView::npos ? WStringView::npos : bar - start));
        if (bar == WStringView::npos || pieces.size() == 5) break;
        start = bar + 1;
    }
    const WStringView templ = pieces[0];
    const std::vector<WStringView> args(pieces.begin() + 1, pieces.end());
    const std::size_t maxUnits = units.size() % 3 == 0 ? SIZE_MAX : units.size() / 2;

    WString expected;
    std::size_t at = 0, next = 0;
    const WString placeholder = WidenAscii("%s");
    for (;;) {
        const std::size_t found = templ.find(placeholder, at);
        if (found == WStringView::npos || next == args.size()) {
            expected.append(templ.substr(at));
            break;
        }
        expected.append(templ.substr(at, found - at));
        expected.append(args[next++]);
        at = found + 2;
    }

    std::optional<WString> filled;
    switch (args.size()) {
        case 0:
            filled = FormatTemplate(templ, {}, maxUnits);
            break;
        case 1:
            filled = FormatTemplate(templ, {args[0]}, maxUnits);
            break;
        case 2:
            filled = FormatTemplate(templ, {args[0], args[1]}, maxUnits);
            break;
        case 3:
            filled = FormatTemplate(templ, {args[0], args[1], args[2]}, maxUnits);
            break;
        default:
            filled = FormatTemplate(templ, {args[0], args[1], args[2], args[3]}, maxUnits);
            break;
    }
    FUZZ_CHECK(filled.has_value() == (expected.size() <= maxUnits));
    if (filled) FUZZ_CHECK(*filled == expected);
}

}  // namespace
}  // namespace vfb::fuzz

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    using namespace vfb;
    using namespace vfb::fuzz;
    const WString units = DecodeUnits(data, size);
    const std::string narrow = NarrowText(WStringView(units));
    CheckNarrowing(units, narrow);
    const std::string encoded = EncodeQueryText(narrow);
    CheckEncoding(narrow, encoded);
    CheckWidening(encoded, true);
    CheckWidening(narrow, false);
    CheckPreparation(units);
    CheckTemplate(units);
    return 0;
}
