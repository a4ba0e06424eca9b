#include <optional>

#include "operations/operations.h"
#include "text/text.h"

namespace vfb {

namespace {

// Where each placeholder's value comes from.
enum class Field { kTitle, kContent, kAccessToken, kUid, kNoteId, kOwnerId };

struct NoteRow {
    const char *const *host;
    const char *pathTemplate;
    Field fields[5];
    int fieldCount;
};

// Indexed by NoteOperation.
const NoteRow kNotes[] = {
    {&kRestHost,
     "/method/notes.create?uid=%s&title=%s&content=%s&access_token=%s",
     {Field::kUid, Field::kTitle, Field::kContent, Field::kAccessToken},
     4},
    {&kRestHost,
     "/method/notes.edit?note_id=%s&uid=%s&title=%s&content=%s&access_token=%s",
     {Field::kNoteId, Field::kUid, Field::kTitle, Field::kContent, Field::kAccessToken},
     5},
    {&kGraphHost, "/%s_%s?access_token=%s", {Field::kOwnerId, Field::kNoteId, Field::kAccessToken}, 3},
    {&kRestHost,
     "/method/notes.delete?note_id=%s&uid=%s&access_token=%s",
     {Field::kNoteId, Field::kUid, Field::kAccessToken},
     3},
};

std::optional<WString> FieldValue(Field field, const NoteArguments &args) {
    switch (field) {
        case Field::kTitle:
            return PrepareQueryText(args.title);
        case Field::kContent:
            return PrepareQueryText(args.content);
        case Field::kAccessToken:
            return WString(ViewOf(args.accessToken));
        case Field::kUid:
            return WString(ViewOf(args.uid));
        case Field::kNoteId:
            return WString(ViewOf(args.noteId));
        case Field::kOwnerId:
            return WString(ViewOf(args.ownerId));
    }
    return std::nullopt;
}

// In a URL a raw number sign starts the fragment, which no stack sends: the
// rest of the query (the other texts, the token) would be dropped silently.
// The query table leaves it raw, so the URL it goes into escapes it.
WString EscapeNumberSign(WString value) {
    for (std::size_t at = value.find('#'); at != WString::npos; at = value.find('#', at + 3))
        value.replace(at, 1, WidenAscii("%23"));
    return value;
}

}  // namespace

int RunNoteOperation(const Platform &platform, NoteOperation which, const NoteArguments &args,
                     const WChar *outputPath) {
    const NoteRow &row = kNotes[static_cast<int>(which)];
    WString values[5];
    for (int i = 0; i < row.fieldCount; ++i) {
        std::optional<WString> value = FieldValue(row.fields[i], args);
        if (!value) {
            // Only the title (first) and the content (fourth) can be too long.
            const bool title = row.fields[i] == Field::kTitle;
            RefuseText(title ? 1 : 4, title ? "title" : "content", title ? args.title : args.content);
            return VFB_ERR_OPEN;
        }
        values[i] = EscapeNumberSign(std::move(*value));
    }
    const WString urlTemplate = WidenAscii("https://") + WidenAscii(*row.host) + WidenAscii(row.pathTemplate);
    const std::optional<WString> url =
        FormatTemplate(urlTemplate, {values[0], values[1], values[2], values[3], values[4]}, kMaxPathUnits);
    if (!url) {
        // The token is the second argument of create and edit, the first of view and delete.
        const bool early = which == NoteOperation::kCreate || which == NoteOperation::kEdit;
        std::size_t units = 0;
        for (const WString &v : values) units += v.size();
        RefuseLength(early ? 2 : 1, "request URL (identifiers, token and texts)", units, kMaxPathUnits);
        return VFB_ERR_OPEN;
    }
    // What the fetch returned, so a failed fetch is never mistaken for this
    // call's answer sitting in an earlier call's file.
    return FetchUrl(platform, url->c_str(), outputPath);
}

}  // namespace vfb
