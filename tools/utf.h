// Conversions between the command line's UTF-8 and the library's 16-bit units.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

#include "vantrelfb.h"

namespace vfbtool {

static_assert(sizeof(VFB_WCHAR) == 2, "the library's text is made of 16-bit units");

using WString = std::basic_string<VFB_WCHAR>;

// Strict decoding: overlong forms, encoded surrogates, values above U+10FFFF
// and truncated sequences are refused, because passing a guess on to the
// service would post text the user never typed. On failure `bad_offset`
// receives the offset of the first byte that cannot start or continue a
// character.
std::optional<WString> Utf8ToWide(std::string_view utf8, std::size_t *bad_offset = nullptr);

// The library's own text (a Location) may hold an unpaired surrogate; it is
// shown as U+FFFD rather than producing invalid UTF-8 on stdout.
std::string WideToUtf8(const VFB_WCHAR *wide);

// Text from elsewhere (the service's answer) is passed on as UTF-8 whatever it
// holds: each byte that is not part of a well-formed sequence becomes U+FFFD.
std::string ValidUtf8(std::string_view bytes);

// Appends one code point (at most U+10FFFF, not a surrogate) as UTF-8.
void AppendUtf8(std::string &out, char32_t cp);

}  // namespace vfbtool
