/*
 * Uploads a JPEG photo with a caption and reports the result.
 *
 *   photo ACCESS_TOKEN photo.jpg "caption" [answer.json]
 *
 * The photo is streamed from the file as it is sent, so memory does not grow
 * with its size. A file that changes size during the upload stops it with 7.
 */
#include <stdio.h>
#include <stdlib.h>
#include <vantrelfb.h>

#include <vantrelfb_utf.h>

int main(int argc, char **argv)
{
    if (argc < 4) {
        fprintf(stderr, "usage: %s ACCESS_TOKEN PHOTO CAPTION [ANSWER_FILE]\n", argv[0]);
        return 2;
    }
    VFB_WCHAR *token = vfb_utf16_from_utf8(argv[1]);
    VFB_WCHAR *photo = vfb_utf16_from_utf8(argv[2]);
    VFB_WCHAR *caption = vfb_utf16_from_utf8(argv[3]);
    VFB_WCHAR *out = vfb_utf16_from_utf8(argc > 4 ? argv[4] : "answer.json");
    if (!token || !photo || !caption || !out) return 2;

    int rc = FaceBookPictureUpload(photo, u"me", caption, token, out);
    switch (rc) {
    case VFB_DONE:
        printf("uploaded; the service's answer is in %s\n", argc > 4 ? argv[4] : "answer.json");
        break;
    case VFB_ERR_OPEN_ROOT_OR_MEDIA:
    case VFB_ERR_MEDIA_READ:
        fprintf(stderr, "the photo could not be read (%d): %s\n", rc, vfb_result_meaning(rc, NULL));
        break;
    default:
        /* Network failures: the service may or may not have the photo. */
        fprintf(stderr, "upload failed (%d): %s\n", rc, vfb_result_meaning(rc, NULL));
        break;
    }
    free(token);
    free(photo);
    free(caption);
    free(out);
    return rc == VFB_DONE ? 0 : 1;
}
