// Recording stand-ins for the library's exports.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "dispatch.h"

namespace vfbtool::fake {

// Test literals are char16_t; the library's unit type differs on Windows.
inline WString Wide(std::u16string_view s) { return WString(s.begin(), s.end()); }

struct RecordedCall {
    std::string export_name;
    std::vector<WString> args;
};

class FakeLibrary {
public:
    FakeLibrary();   // installs itself as the one instance the fakes report to
    ~FakeLibrary();  // and uninstalls

    const CallTable &Calls() const { return calls_; }
    const std::vector<RecordedCall> &Recorded() const { return recorded_; }

    int result = VFB_DONE;  // what every int-returning fake returns
    // When set, what every int-returning fake stores in its output file,
    // whatever it returns: the service's answer, or a file left from before.
    std::optional<std::string> answer;
    WString location;  // what FaceBookTokenGraph returns
    bool null_location = false;

    // Used by the fakes only.
    static FakeLibrary *current;
    std::vector<RecordedCall> recorded_;

private:
    CallTable calls_;
};

// Runs the tool on `args` against `fake`.
struct RunResult {
    int status;
    std::string out;
    std::string err;
};
// `input` is standard input (none when absent); `terminal` says whether
// standard error is a terminal.
RunResult RunTool(FakeLibrary &fake, const std::vector<std::string> &args, const char *env_token = nullptr,
                  const std::optional<std::string> &input = std::nullopt, bool terminal = false);

}  // namespace vfbtool::fake
