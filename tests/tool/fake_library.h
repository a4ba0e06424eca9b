// Recording stand-ins for the library's exports.
#pragma once

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
    WString location;       // what FaceBookTokenGraph returns
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
RunResult RunTool(FakeLibrary &fake, const std::vector<std::string> &args, const char *env_token = nullptr);

}  // namespace vfbtool::fake
