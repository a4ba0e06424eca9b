// Preparing user texts for the query of a URL: narrow to UTF-8, percent-encode
// by the service's table, widen back for the wide request templates.
#pragma once

#include <cstddef>
#include <optional>
#include <string>

#include "text/wide.h"

namespace vfb {

// Sizes of the per-call fields (text without its terminator).
constexpr std::size_t kMaxNarrowBytes = 1999;
constexpr std::size_t kMaxEncodedBytes = 999;

// UTF-8 form of a wide text; an unpaired surrogate becomes U+FFFD. Null is empty.
std::string NarrowText(const WChar *text);
std::string NarrowText(WStringView text);

// The service's query encoding: 19 bytes to their %XX form, the braces to a
// bare '&' and '=' (callers use them to add parameters), every byte from 0x80
// up to %XX so that non-ASCII arrives as UTF-8. Everything else unchanged.
std::string EncodeQueryText(std::string_view narrow);

// Each byte to the unit of the same value; only ever sees ASCII after encoding.
WString WidenText(std::string_view narrow);

// The whole chain; empty optional when a field limit is exceeded, because a
// silently cut text would post something the user never wrote.
std::optional<WString> PrepareQueryText(const WChar *text);

// Fills the "%s" of a template in order. Empty optional when the result would
// exceed `maxUnits`.
std::optional<WString> FormatTemplate(WStringView templ, std::initializer_list<WStringView> args,
                                      std::size_t maxUnits);

}  // namespace vfb
