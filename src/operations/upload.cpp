#include <cstdio>
#include <optional>

#include "call/call.h"
#include "http/internet.h"
#include "operations/capture.h"
#include "operations/operations.h"
#include "text/text.h"

namespace vfb {

namespace {

struct UploadRow {
    const char *const *host;
    const char *pathTemplate;  // target, then token where the path carries it
    bool tokenInPath;
    const char *openingTemplate;  // boundary
    const char *closingTemplate;  // see ClosingArguments
};

// Indexed by MediaKind.
const UploadRow kUploads[] = {
    {&kGraphHost, "/%s/photos?access_token=%s", true,
     "--%s\r\nContent-Disposition: form-data; name=\"source\"; filename=\"test.jpg\"\r\n"
     "Content-Type: image/jpeg\r\n\r\n",
     "\r\n--%s\r\nContent-Disposition: form-data; name=\"message\"\r\n\r\n%s\r\n--%s--\r\n"},
    {&kVideoHost, "/%s/videos", false,
     "--%s\r\nContent-Disposition: form-data; name=\"source\"; filename=\"test.mp4\"\r\n"
     "Content-Type: video/mp4\r\n\r\n",
     "\r\n--%s\r\nContent-Disposition: form-data; name=\"access_token\"\r\n\r\n%s\r\n--%s\r\n"
     "Content-Disposition: form-data; name=\"title\"\r\n\r\n%s\r\n--%s--\r\n"},
};

constexpr std::uint32_t kFileChunk = 1024;

}  // namespace

WString FormatBoundary(const LocalTime &t) {
    char text[64];
    std::snprintf(text, sizeof text, "--%04d%02d%02d%02d%02d%02d%02d%03d", t.year, t.month, t.dayOfWeek,
                  t.day, t.hour, t.minute, t.second, t.millisecond);
    return WidenAscii(text);
}

int UploadMedia(const Platform &platform, MediaKind kind, const WChar *mediaPath, const WChar *targetId,
                const WChar *text, const WChar *accessToken, const WChar *outputPath) {
    const UploadRow &row = kUploads[static_cast<int>(kind)];
    const WString boundary = FormatBoundary(platform.clock.Now());

    // The media file comes first: a missing file is reported even with no network.
    std::unique_ptr<File> media = platform.files.Open(mediaPath, FileMode::kOpenForReading);
    std::uint32_t mediaSize = 0;
    if (!media || !media->Size32(&mediaSize)) {
        const std::string name = NarrowText(mediaPath);
        if (!media)
            call::Fail(VFB_FAIL_MEDIA_FILE, "media file %s could not be opened: %s", name.c_str(),
                       platform.files.DescribeError(platform.files.LastError()).c_str());
        else
            call::Fail(VFB_FAIL_MEDIA_FILE, "media file %s is 4 GiB or larger", name.c_str());
        return VFB_ERR_OPEN_ROOT_OR_MEDIA;
    }

    const WStringView token = ViewOf(accessToken);
    const std::optional<WString> path =
        FormatTemplate(WidenAscii(row.pathTemplate), {ViewOf(targetId), token}, kMaxPathUnits);
    const std::string opening =
        NarrowText(*FormatTemplate(WidenAscii(row.openingTemplate), {boundary}, SIZE_MAX));
    const std::string closing = NarrowText(
        kind == MediaKind::kPhoto
            ? *FormatTemplate(WidenAscii(row.closingTemplate), {boundary, ViewOf(text), boundary}, SIZE_MAX)
            : *FormatTemplate(WidenAscii(row.closingTemplate),
                              {boundary, token, boundary, ViewOf(text), boundary}, SIZE_MAX));
    // Too long for the request's fields: refused before anything is sent rather than cut.
    if (!path) {
        const bool longerToken = token.size() >= ViewOf(targetId).size();
        RefuseLength(longerToken ? 4 : 2, "request path (target and token)",
                     ViewOf(targetId).size() + token.size(), kMaxPathUnits);
        return VFB_ERR_START;
    }
    if (closing.size() > kMaxClosingPartBytes) {
        call::RefuseInput(3, kMaxClosingPartBytes,
                          "%s too long: the upload's closing part would be %zu bytes, at most %zu",
                          kind == MediaKind::kPhoto ? "message" : "title (with the token)", closing.size(),
                          kMaxClosingPartBytes);
        return VFB_ERR_START;
    }
    const std::uint64_t total = std::uint64_t{opening.size()} + mediaSize + closing.size();
    if (total > UINT32_MAX) {
        call::Fail(VFB_FAIL_MEDIA_FILE, "media file %s is too large for one upload",
                   NarrowText(mediaPath).c_str());
        return VFB_ERR_OPEN_ROOT_OR_MEDIA;
    }

    Internet &internet = platform.internet;
    ScopedInternetHandle root(internet, internet.Open(WidenAscii("FaceBook"), AccessType::kDirect));
    if (!root) return VFB_ERR_OPEN;
    ScopedInternetHandle connection(internet,
                                    internet.Connect(root.get(), WidenAscii(*row.host), kHttpsPort));
    if (!connection) return VFB_ERR_CONNECT;
    ScopedInternetHandle request(internet, internet.OpenRequest(connection.get(), WidenAscii("POST"), *path,
                                                                WStringView(), kRequestFlags));
    if (!request) return VFB_ERR_START;

    internet.AddHeader(request.get(),
                       *FormatTemplate(WidenAscii("Content-Type: multipart/form-data; boundary=%s\r\n"),
                                       {boundary}, SIZE_MAX));
    if (!internet.SendWithBody(request.get(), static_cast<std::uint32_t>(total))) return VFB_ERR_START;
    if (!internet.Write(request.get(), opening.data(), static_cast<std::uint32_t>(opening.size())))
        return VFB_ERR_START;

    unsigned char chunk[kFileChunk];
    std::uint64_t sent = 0;
    std::uint32_t read = 0;
    do {
        if (!media->Read(chunk, kFileChunk, &read)) {
            call::Fail(VFB_FAIL_MEDIA_FILE, "reading media file %s failed: %s", NarrowText(mediaPath).c_str(),
                       platform.files.DescribeError(platform.files.LastError()).c_str());
            return VFB_ERR_MEDIA_READ;
        }
        // A file that changed since its size was declared would make the body
        // disagree with its Content-Length; stop rather than send that.
        if (sent + read > mediaSize) {
            call::Fail(VFB_FAIL_MEDIA_FILE, "media file %s grew during the upload",
                       NarrowText(mediaPath).c_str());
            return VFB_ERR_MEDIA_READ;
        }
        sent += read;
        if (!internet.Write(request.get(), chunk, read)) return VFB_ERR_SEND_CHUNK;
    } while (read == kFileChunk);
    if (sent != mediaSize) {
        call::Fail(VFB_FAIL_MEDIA_FILE, "media file %s shrank during the upload",
                   NarrowText(mediaPath).c_str());
        return VFB_ERR_MEDIA_READ;
    }

    if (!internet.Write(request.get(), closing.data(), static_cast<std::uint32_t>(closing.size())))
        return VFB_ERR_SEND_CLOSING;
    internet.EndRequest(request.get());
    if (!CaptureExclusiveStream(internet, platform.files, request.get(), outputPath)) return VFB_ERR_READ;
    media.reset();
    return VFB_DONE;
}

}  // namespace vfb
