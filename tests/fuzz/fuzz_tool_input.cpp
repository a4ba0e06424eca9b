// What the tool parses of hostile input besides its command line's shape: the
// stored answer, classified over simdjson, and the texts it must hand on as
// UTF-16 or refuse. Checked against the reference decoder, not the library's.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "answer.h"
#include "cli.h"
#include "fuzz_support.h"

namespace vfb::fuzz {
namespace {

void CheckText(const std::optional<std::string> &text) {
    if (!text) return;
    FUZZ_CHECK(text->size() <= vfbtool::kMaxText);
    FUZZ_CHECK(DecodeUtf8Strict(*text).has_value());
}

void CheckAnswer(const std::string &answer) {
    const std::optional<vfbtool::ServiceError> error = vfbtool::FindServiceError(answer);
    // A byte order mark (one) and white space around the document change nothing;
    // inside an array the error is no longer the document's own.
    const std::string body = answer.compare(0, 3, "\xEF\xBB\xBF") == 0 ? answer.substr(3) : answer;
    const std::optional<vfbtool::ServiceError> framed =
        vfbtool::FindServiceError("\xEF\xBB\xBF \t" + body + "\r\n");
    FUZZ_CHECK(framed.has_value() == error.has_value());
    FUZZ_CHECK(!vfbtool::FindServiceError("[" + answer + "]"));
    if (!error) return;
    FUZZ_CHECK(framed->message == error->message && framed->type == error->type &&
               framed->code == error->code);
    CheckText(error->message);
    CheckText(error->type);
    CheckText(error->code);
    const vfbtool::Refusal refusal = vfbtool::Classify(*error);
    if (refusal != vfbtool::Refusal::kOther) FUZZ_CHECK(error->code && !error->code->empty());
}

void CheckConversion(std::string_view bytes) {
    std::size_t bad = bytes.size() + 1;
    const std::optional<vfbtool::WString> wide = vfbtool::Utf8ToWide(bytes, &bad);
    const bool valid = DecodeUtf8Strict(bytes).has_value();
    FUZZ_CHECK(wide.has_value() == valid);
    if (wide) {
        FUZZ_CHECK(vfbtool::WideToUtf8(wide->c_str()) == bytes.substr(0, bytes.find('\0')));
        FUZZ_CHECK(vfbtool::ValidUtf8(bytes) == bytes);
    } else {
        // Everything before the malformed sequence is well-formed.
        FUZZ_CHECK(bad < bytes.size());
        FUZZ_CHECK(DecodeUtf8Strict(bytes.substr(0, bad)).has_value());
        FUZZ_CHECK(!DecodeUtf8Strict(bytes.substr(0, bad + 4 > bytes.size() ? bytes.size() : bad + 4)));
    }
    FUZZ_CHECK(DecodeUtf8Strict(vfbtool::ValidUtf8(bytes)).has_value());
}

}  // namespace
}  // namespace vfb::fuzz

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    const std::string bytes(reinterpret_cast<const char *>(data), size);
    vfb::fuzz::CheckAnswer(bytes);
    vfb::fuzz::CheckConversion(bytes);
    return 0;
}
