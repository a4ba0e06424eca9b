/*
 * Posts a status message and reads the service's answer.
 *
 *   status ACCESS_TOKEN "message" [answer.json]
 *
 * The library takes UTF-16 text, so the UTF-8 arguments are converted first.
 * Whatever the service answers lands byte for byte in the answer file: the new
 * post's id, or the service's error object (an expired token arrives here too,
 * with result 999). Reading that file is the application's business.
 */
#include <stdio.h>
#include <stdlib.h>
#include <vantrelfb.h>

#include <vantrelfb_utf.h>

int main(int argc, char **argv)
{
    if (argc < 3) {
        fprintf(stderr, "usage: %s ACCESS_TOKEN MESSAGE [ANSWER_FILE]\n", argv[0]);
        return 2;
    }
    const char *answer = argc > 3 ? argv[3] : "answer.json";
    VFB_WCHAR *token = vfb_utf16_from_utf8(argv[1]);
    VFB_WCHAR *message = vfb_utf16_from_utf8(argv[2]);
    VFB_WCHAR *out = vfb_utf16_from_utf8(answer);
    if (!token || !message || !out) return 2;

    /* "me" posts to the token owner's own feed; the extra text is ignored. */
    int rc = FaceBookStatus(message, token, u"me", NULL, out);
    printf("result %d: %s\n", rc, vfb_result_meaning(rc, NULL));
    if (rc == VFB_DONE) {
        /* The answer is small (a form post keeps at most 1998 bytes). */
        char body[2000];
        FILE *f = fopen(answer, "rb");
        size_t n = f ? fread(body, 1, sizeof body - 1, f) : 0;
        if (f) fclose(f);
        body[n] = '\0';
        printf("answer: %s\n", body);
    }
    free(token);
    free(message);
    free(out);
    return rc == VFB_DONE ? 0 : 1;
}
