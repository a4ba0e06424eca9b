// Reading the service's answer as the library stored it. The library returns
// 999 whenever the exchange ran to its end, refusals included, so the tool
// looks in the file for the service's error object to tell the two apart.
#pragma once

#include <cstddef>
#include <cstdio>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace vfbtool {

// The members of `{"error": {...}}` that say why the call was refused. The
// texts are decoded from JSON and may be cut (kMaxText); they are UTF-8 only
// as far as the file was.
struct ServiceError {
    std::optional<std::string> message;
    std::optional<std::string> type;
    // The code as the service wrote it: the JSON number's text, or a string's
    // content when the service quoted it.
    std::optional<std::string> code;
    bool code_is_number = false;
};

enum class Refusal { kTokenRejected, kRateLimited, kOther };
Refusal Classify(const ServiceError &error);

// Bytes kept of each text; longer ones are cut, and the rest is still checked.
constexpr std::size_t kMaxText = 4096;

// The error when the whole input is one JSON object (an optional UTF-8 byte
// order mark and white space around it) whose member "error" is an object;
// nothing otherwise, whatever the bytes. `read` fills its buffer and returns
// how many bytes it wrote, 0 at the end; memory stays bounded however much it
// supplies.
std::optional<ServiceError> FindServiceError(const std::function<std::size_t(char *, std::size_t)> &read);
std::optional<ServiceError> FindServiceError(std::string_view text);
std::optional<ServiceError> FindServiceErrorInFile(std::FILE *file);

}  // namespace vfbtool
