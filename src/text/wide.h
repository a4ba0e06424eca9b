// Internal wide text type and the helpers every layer shares.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "vantrelfb.h"

namespace vfb {

using WChar = VFB_WCHAR;
using WString = std::basic_string<WChar>;
using WStringView = std::basic_string_view<WChar>;

// Callers may pass null for any text; it stands for the empty text.
inline WStringView ViewOf(const WChar *text) { return text ? WStringView(text) : WStringView(); }

// Built-in literals are ASCII; this keeps templates readable on both wide types.
inline WString WidenAscii(std::string_view ascii) { return WString(ascii.begin(), ascii.end()); }

}  // namespace vfb
