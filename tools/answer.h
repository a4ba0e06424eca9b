// Reading the service's answer as the library stored it. The library returns
// 999 whenever the exchange ran to its end, refusals included, so the tool
// looks in the file for the service's error object to tell the two apart.
#pragma once

#include <cstddef>
#include <cstdio>
#include <optional>
#include <string>
#include <string_view>

namespace vfbtool {

// The members of `{"error": {...}}` that say why the call was refused,
// decoded from JSON and valid UTF-8; each may be cut (kMaxText).
struct ServiceError {
    std::optional<std::string> message;
    std::optional<std::string> type;
    // The code as the service wrote it: the JSON number, or a string's
    // content when the service quoted it.
    std::optional<std::string> code;
    bool code_is_number = false;
};

enum class Refusal { kTokenRejected, kRateLimited, kOther };
Refusal Classify(const ServiceError &error);

// Bytes kept of each text; longer ones are cut.
constexpr std::size_t kMaxText = 4096;
// An answer longer than this is not read: an error object is a few hundred
// bytes, and the whole answer is held in memory to be read.
constexpr std::size_t kMaxAnswer = 64 << 20;

// The error when the whole input is one well-formed JSON document (an
// optional UTF-8 byte order mark and white space around it) whose top-level
// object has a member "error" that is an object; nothing otherwise, whatever
// the bytes.
std::optional<ServiceError> FindServiceError(std::string_view text);
// Reads at most kMaxAnswer bytes from `file`; a longer or unreadable file
// holds no error.
std::optional<ServiceError> FindServiceErrorInFile(std::FILE *file);

}  // namespace vfbtool
