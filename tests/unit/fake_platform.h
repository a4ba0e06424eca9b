// A scripted stand-in for the platform: an HTTP stack whose every step can be
// made to fail, in-memory files with the platform's sharing rules, and a clock
// that says what it is told. It counts open handles so leaks show.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "http/internet.h"

namespace vfb::testing {

enum class Step {
    kOpen,
    kConnect,
    kOpenRequest,
    kAddHeader,
    kSend,
    kSendWithBody,
    kWrite,
    kEndRequest,
    kRead,
    kQueryLocation,
    kOpenUrl,
};

struct RecordedRequest {
    std::string agent;
    AccessType access = AccessType::kDirect;
    std::string host;
    std::uint16_t port = 0;
    std::string verb, target, version;
    std::uint32_t flags = 0;
    std::vector<std::string> headers;  // added lines and the Send block, as given
    bool sent = false;
    bool ended = false;
    bool withBody = false;
    std::int64_t declaredLength = -1;
    std::string body;
    std::vector<std::uint32_t> writeSizes;
};

class FakeInternet final : public Internet {
public:
    // What the next exchange answers.
    std::string responseBody;
    std::string location;
    bool hasLocation = false;
    // Fail the Nth call (1-based) of a step; 0 never fails.
    std::map<Step, int> failOnCall;
    // Reads return at most this much at a time, to exercise partial reads.
    std::uint32_t maxReadChunk = UINT32_MAX;

    std::vector<RecordedRequest> requests;  // one per OpenRequest/OpenUrl
    std::map<Step, int> calls;
    std::vector<std::uint32_t> readSizes;  // sizes the caller asked for
    std::vector<std::string> closeOrder;   // kinds of handles as they were closed

    int openHandles() const { return static_cast<int>(live_.size()); }

    InternetHandle Open(WStringView agent, AccessType access) override;
    InternetHandle Connect(InternetHandle root, WStringView host, std::uint16_t port) override;
    InternetHandle OpenRequest(InternetHandle connection, WStringView verb, WStringView target,
                               WStringView version, std::uint32_t flags) override;
    bool AddHeader(InternetHandle request, WStringView line) override;
    bool Send(InternetHandle request, WStringView headers) override;
    bool SendWithBody(InternetHandle request, std::uint32_t bodyLength) override;
    bool Write(InternetHandle request, const void *data, std::uint32_t size) override;
    bool EndRequest(InternetHandle request) override;
    bool Read(InternetHandle handle, void *buffer, std::uint32_t size, std::uint32_t *read) override;
    bool QueryLocation(InternetHandle request, WChar *buffer, std::uint32_t *sizeBytes) override;
    InternetHandle OpenUrl(InternetHandle root, WStringView url, std::uint32_t flags) override;
    bool Close(InternetHandle handle) override;

private:
    struct Object {
        std::string kind;  // root, connection, request, url
        std::string agent;
        AccessType access = AccessType::kDirect;
        std::string host;
        std::uint16_t port = 0;
        int request = -1;  // index into requests
        std::size_t readOffset = 0;
    };

    bool Fails(Step step);
    Object *Find(InternetHandle handle, const char *kind = nullptr);
    InternetHandle Add(Object object);

    std::map<std::uintptr_t, Object> live_;
    std::uintptr_t next_ = 0x1000;
};

struct FakeFile {
    std::string bytes;
    int openCount = 0;
    bool exclusive = false;  // opened without sharing
    bool shared = false;     // opened shared for reading and writing
};

class FakeFileSystem final : public FileSystem {
public:
    std::map<std::string, FakeFile> files;                // by UTF-8 path
    std::set<std::string> missingFolders;                 // paths under these cannot be created
    std::set<std::string> unreadable;                     // reads of these fail
    std::map<std::string, std::uint32_t> readFailsAfter;  // fail reads once this many bytes were read
    std::map<std::string, std::int64_t> sizeOverride;     // Size32 reports this (-1: cannot be read)
    std::vector<std::uint32_t> mediaReads;                // sizes returned by media reads
    int opens = 0;
    std::function<void(const std::string &)> onOpen;  // called before each open

    int openFiles() const;
    bool Exists(const std::string &path) const { return files.count(path) != 0; }

    std::unique_ptr<File> Open(const WChar *path, FileMode mode) override;
};

class FakeClock final : public Clock {
public:
    LocalTime now{2010, 5, 6, 1, 12, 47, 7, 42};
    LocalTime Now() override { return now; }
};

struct FakePlatform {
    FakeInternet internet;
    FakeFileSystem files;
    FakeClock clock;
    Platform get() { return Platform{internet, files, clock}; }
};

WString W(const std::string &utf8);

}  // namespace vfb::testing
