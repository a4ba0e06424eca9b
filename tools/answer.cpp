#include "answer.h"

#include <simdjson.h>

#include <charconv>
#include <string>

namespace vfbtool {

namespace {

// A text cut at kMaxText stays valid UTF-8: a character split by the cut
// goes whole.
std::string Cut(std::string_view text) {
    if (text.size() <= kMaxText) return std::string(text);
    std::size_t end = kMaxText;
    while (end > 0 && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80) --end;
    return std::string(text.substr(0, end));
}

std::optional<std::string> Text(simdjson::dom::element value) {
    std::string_view text;
    if (value.get(text) != simdjson::SUCCESS) return std::nullopt;
    return Cut(text);
}

std::optional<std::string> NumberText(simdjson::dom::element value) {
    char buffer[64];
    std::to_chars_result r{};
    if (int64_t i; value.get(i) == simdjson::SUCCESS)
        r = std::to_chars(buffer, buffer + sizeof buffer, i);
    else if (uint64_t u; value.get(u) == simdjson::SUCCESS)
        r = std::to_chars(buffer, buffer + sizeof buffer, u);
    else if (double d; value.get(d) == simdjson::SUCCESS)
        r = std::to_chars(buffer, buffer + sizeof buffer, d);
    else
        return std::nullopt;
    return std::string(buffer, r.ptr);
}

}  // namespace

Refusal Classify(const ServiceError &error) {
    long long code = -1;
    if (error.code && !error.code->empty() && error.code->size() < 10 &&
        error.code->find_first_not_of("0123456789") == std::string::npos)
        code = std::stoll(*error.code);
    // The code alone decides: the service gives the type OAuthException to
    // rate limits and invalid parameters as much as to a rejected token.
    if (code == 190 || code == 102) return Refusal::kTokenRejected;
    if (code == 4 || code == 17 || code == 32 || code == 613) return Refusal::kRateLimited;
    return Refusal::kOther;
}

std::optional<ServiceError> FindServiceError(std::string_view text) {
    // A byte order mark is not JSON, but editors and some servers add one.
    constexpr std::string_view kBom = "\xEF\xBB\xBF";
    if (text.substr(0, kBom.size()) == kBom) text.remove_prefix(kBom.size());
    if (text.size() > kMaxAnswer) return std::nullopt;
    simdjson::dom::parser parser;
    simdjson::dom::object top;
    if (parser.parse(simdjson::padded_string(text)).get(top) != simdjson::SUCCESS) return std::nullopt;
    // The last "error" member wins, as in most JSON readers.
    std::optional<simdjson::dom::element> found;
    for (const simdjson::dom::key_value_pair member : top)
        if (member.key == "error") found = member.value;
    simdjson::dom::object error;
    if (!found || found->get(error) != simdjson::SUCCESS) return std::nullopt;
    ServiceError e;
    for (const simdjson::dom::key_value_pair member : error) {
        if (member.key == "message") {
            e.message = Text(member.value);
        } else if (member.key == "type") {
            e.type = Text(member.value);
        } else if (member.key == "code") {
            e.code = Text(member.value);
            e.code_is_number = !e.code && (e.code = NumberText(member.value));
        }
    }
    return e;
}

std::optional<ServiceError> FindServiceErrorInFile(std::FILE *file) {
    std::string text;
    char buffer[64 * 1024];
    for (std::size_t n; text.size() <= kMaxAnswer && (n = std::fread(buffer, 1, sizeof buffer, file)) > 0;)
        text.append(buffer, n);
    // An answer cut short is no error object.
    if (std::ferror(file)) return std::nullopt;
    return FindServiceError(text);
}

}  // namespace vfbtool
