#include "call/call.h"
#include "operations/operations.h"
#include "text/text.h"

namespace vfb {

void RefuseText(int argument, const char *name, const WChar *text) {
    const std::string narrow = NarrowText(text);
    if (narrow.size() > kMaxNarrowBytes) {
        call::RefuseInput(argument, kMaxNarrowBytes, "%s too long: %zu bytes of UTF-8, at most %zu", name,
                          narrow.size(), kMaxNarrowBytes);
        return;
    }
    call::RefuseInput(argument, kMaxEncodedBytes,
                      "%s too long: %zu bytes once encoded for the URL, at most %zu", name,
                      EncodeQueryText(narrow).size(), kMaxEncodedBytes);
}

void RefuseLength(int argument, const char *what, std::size_t units, std::size_t limit) {
    call::RefuseInput(argument, static_cast<unsigned>(limit), "%s too long: %zu units, at most %zu", what,
                      units, limit);
}

}  // namespace vfb
