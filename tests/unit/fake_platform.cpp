#include "fake_platform.h"

#include <algorithm>
#include <cstring>

#include "text/text.h"
#include "text/utf.h"

namespace vfb::testing {

WString W(const std::string &utf8) { return utf::FromUtf8<WChar>(utf8); }

bool FakeInternet::Fails(Step step) {
    int n = ++calls[step];
    auto it = failOnCall.find(step);
    return it != failOnCall.end() && it->second == n;
}

FakeInternet::Object *FakeInternet::Find(InternetHandle handle, const char *kind) {
    auto it = live_.find(reinterpret_cast<std::uintptr_t>(handle));
    if (it == live_.end()) return nullptr;
    if (kind && it->second.kind != kind) return nullptr;
    return &it->second;
}

InternetHandle FakeInternet::Add(Object object) {
    std::uintptr_t id = next_++;
    live_.emplace(id, std::move(object));
    return reinterpret_cast<InternetHandle>(id);
}

InternetHandle FakeInternet::Open(WStringView agent, AccessType access) {
    if (Fails(Step::kOpen)) return nullptr;
    Object o;
    o.kind = "root";
    o.agent = NarrowText(agent);
    o.access = access;
    return Add(o);
}

InternetHandle FakeInternet::Connect(InternetHandle root, WStringView host, std::uint16_t port) {
    Object *parent = Find(root, "root");
    if (Fails(Step::kConnect) || !parent) return nullptr;
    Object o = *parent;
    o.kind = "connection";
    o.host = NarrowText(host);
    o.port = port;
    return Add(o);
}

InternetHandle FakeInternet::OpenRequest(InternetHandle connection, WStringView verb, WStringView target,
                                         WStringView version, std::uint32_t flags) {
    Object *parent = Find(connection, "connection");
    if (Fails(Step::kOpenRequest) || !parent) return nullptr;
    RecordedRequest r;
    r.agent = parent->agent;
    r.access = parent->access;
    r.host = parent->host;
    r.port = parent->port;
    r.verb = NarrowText(verb);
    r.target = EscapeRequestTarget(target);
    r.version = NarrowText(version);
    r.flags = flags;
    requests.push_back(r);
    Object o = *parent;
    o.kind = "request";
    o.request = static_cast<int>(requests.size() - 1);
    return Add(o);
}

bool FakeInternet::AddHeader(InternetHandle request, WStringView line) {
    Object *o = Find(request, "request");
    if (Fails(Step::kAddHeader) || !o) return false;
    requests[o->request].headers.push_back(NarrowText(line));
    return true;
}

bool FakeInternet::Send(InternetHandle request, WStringView headers) {
    Object *o = Find(request, "request");
    if (Fails(Step::kSend) || !o) return false;
    RecordedRequest &r = requests[o->request];
    if (!headers.empty()) r.headers.push_back(NarrowText(headers));
    r.sent = true;
    r.declaredLength = 0;
    return true;
}

bool FakeInternet::SendWithBody(InternetHandle request, std::uint32_t bodyLength) {
    Object *o = Find(request, "request");
    if (Fails(Step::kSendWithBody) || !o) return false;
    RecordedRequest &r = requests[o->request];
    r.sent = true;
    r.withBody = true;
    r.declaredLength = bodyLength;
    return true;
}

bool FakeInternet::Write(InternetHandle request, const void *data, std::uint32_t size) {
    Object *o = Find(request, "request");
    if (Fails(Step::kWrite) || !o) return false;
    RecordedRequest &r = requests[o->request];
    if (!r.sent) return false;
    r.body.append(static_cast<const char *>(data), size);
    r.writeSizes.push_back(size);
    return true;
}

bool FakeInternet::EndRequest(InternetHandle request) {
    Object *o = Find(request, "request");
    if (Fails(Step::kEndRequest) || !o || !requests[o->request].withBody) return false;
    requests[o->request].ended = true;
    return true;
}

bool FakeInternet::Read(InternetHandle handle, void *buffer, std::uint32_t size, std::uint32_t *read) {
    *read = 0;
    readSizes.push_back(size);
    Object *o = Find(handle);
    if (Fails(Step::kRead) || !o || (o->kind != "request" && o->kind != "url")) return false;
    if (o->kind == "request") {
        const RecordedRequest &r = requests[o->request];
        // No response exists until the request, and its body, have been sent.
        if (!r.sent || (r.withBody && !r.ended)) return false;
    }
    std::size_t n = std::min<std::size_t>({size, maxReadChunk, responseBody.size() - o->readOffset});
    std::memcpy(buffer, responseBody.data() + o->readOffset, n);
    o->readOffset += n;
    *read = static_cast<std::uint32_t>(n);
    return true;
}

bool FakeInternet::QueryLocation(InternetHandle request, WChar *buffer, std::uint32_t *sizeBytes) {
    Object *o = Find(request, "request");
    if (Fails(Step::kQueryLocation) || !o || !hasLocation || !requests[o->request].sent) return false;
    WString value = W(location);
    if ((value.size() + 1) * sizeof(WChar) > *sizeBytes) return false;
    std::copy(value.begin(), value.end(), buffer);
    buffer[value.size()] = 0;
    *sizeBytes = static_cast<std::uint32_t>(value.size() * sizeof(WChar));
    return true;
}

InternetHandle FakeInternet::OpenUrl(InternetHandle root, WStringView url, std::uint32_t flags) {
    Object *parent = Find(root, "root");
    if (Fails(Step::kOpenUrl) || !parent) return nullptr;
    RecordedRequest r;
    r.agent = parent->agent;
    r.access = parent->access;
    r.verb = "GET";
    r.target = EscapeRequestTarget(url);
    r.flags = flags;
    r.sent = true;
    requests.push_back(r);
    Object o = *parent;
    o.kind = "url";
    o.request = static_cast<int>(requests.size() - 1);
    return Add(o);
}

bool FakeInternet::Close(InternetHandle handle) {
    auto it = live_.find(reinterpret_cast<std::uintptr_t>(handle));
    if (it == live_.end()) return false;
    closeOrder.push_back(it->second.kind);
    live_.erase(it);
    return true;
}

namespace {

class FakeOpenFile final : public File {
public:
    FakeOpenFile(FakeFileSystem &fs, std::string path) : fs_(fs), path_(std::move(path)) {}
    ~FakeOpenFile() override {
        FakeFile &f = fs_.files[path_];
        if (--f.openCount == 0) f.exclusive = f.shared = false;
    }
    bool Write(const void *data, std::uint32_t size) override {
        fs_.files[path_].bytes.append(static_cast<const char *>(data), size);
        return true;
    }
    bool Read(void *buffer, std::uint32_t size, std::uint32_t *read) override {
        *read = 0;
        if (fs_.unreadable.count(path_)) return false;
        const std::string &bytes = fs_.files[path_].bytes;
        auto limit = fs_.readFailsAfter.find(path_);
        if (limit != fs_.readFailsAfter.end() && offset_ >= limit->second) return false;
        std::size_t n = std::min<std::size_t>(size, bytes.size() - std::min(offset_, bytes.size()));
        if (n) std::memcpy(buffer, bytes.data() + offset_, n);
        offset_ += n;
        *read = static_cast<std::uint32_t>(n);
        fs_.mediaReads.push_back(*read);
        return true;
    }
    bool Size32(std::uint32_t *size) override {
        auto it = fs_.sizeOverride.find(path_);
        if (it != fs_.sizeOverride.end()) {
            if (it->second < 0 || it->second > UINT32_MAX) return false;
            *size = static_cast<std::uint32_t>(it->second);
            return true;
        }
        *size = static_cast<std::uint32_t>(fs_.files[path_].bytes.size());
        return true;
    }

private:
    FakeFileSystem &fs_;
    std::string path_;
    std::size_t offset_ = 0;
};

}  // namespace

int FakeFileSystem::openFiles() const {
    int n = 0;
    for (const auto &entry : files) n += entry.second.openCount;
    return n;
}

std::unique_ptr<File> FakeFileSystem::Open(const WChar *path, FileMode mode) {
    ++opens;
    const std::string name = NarrowText(path);
    if (onOpen) onOpen(name);
    if (name.empty()) return nullptr;
    for (const std::string &folder : missingFolders)
        if (name.rfind(folder + "/", 0) == 0) return nullptr;
    auto it = files.find(name);
    if (mode == FileMode::kOpenForReading) {
        if (it == files.end() || it->second.exclusive) return nullptr;
    } else {
        const bool exclusive = mode != FileMode::kCreateShared;
        if (it != files.end() && it->second.openCount > 0 && (it->second.exclusive || exclusive)) return nullptr;
        FakeFile &f = files[name];
        f.bytes.clear();
        if (exclusive) f.exclusive = true;
        if (mode == FileMode::kCreateShared) f.shared = true;
    }
    ++files[name].openCount;
    return std::make_unique<FakeOpenFile>(*this, name);
}

}  // namespace vfb::testing
