/*
 * Runs library calls for bench/inner.sh and fails loudly when one does not
 * end in VFB_DONE, so that a broken exchange can never pass for a fast one.
 *
 *   driver token URL OUT               FaceBookToken
 *   driver photo MEDIA OUT             FaceBookPictureUpload to "me"
 *   driver video MEDIA OUT             FaceBookVideoUpload to "me"
 *   driver status COUNT OUT [TARGET]   COUNT x FaceBookStatus to TARGET ("me")
 *   driver both URL MEDIA OUT1 OUT2    FaceBookToken, then FaceBookPictureUpload
 *
 * Plain C, like the device applications the library is for: a C++ driver
 * would load the C++ runtime into every process, which curl, the other
 * contender, does not.
 */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <vantrelfb.h>

/* Paths and URLs of this benchmark are short ASCII; anything else is a
 * misuse of the driver and is refused rather than converted. */
#define WIDE_MAX 4096

static void widen(const char *text, VFB_WCHAR *out) {
    size_t n = strlen(text), i;
    if (n >= WIDE_MAX) {
        fprintf(stderr, "driver: argument too long: %.60s...\n", text);
        exit(2);
    }
    for (i = 0; i < n; ++i) {
        if ((unsigned char)text[i] >= 0x80) {
            fprintf(stderr, "driver: non-ASCII argument: %s\n", text);
            exit(2);
        }
        out[i] = (VFB_WCHAR)text[i];
    }
    out[n] = 0;
}

static int check(const char *what, int code) {
    if (code == VFB_DONE) return 0;
    fprintf(stderr, "driver: %s returned %d (%s)\n", what, code, vfb_result_meaning(code, NULL));
    return 1;
}

static int usage(void) {
    fprintf(stderr,
            "usage: driver token URL OUT | photo MEDIA OUT | video MEDIA OUT |\n"
            "              status COUNT OUT [TARGET] | both URL MEDIA OUT1 OUT2\n");
    return 2;
}

static VFB_WCHAR arg1[WIDE_MAX], arg2[WIDE_MAX], arg3[WIDE_MAX];
static const VFB_WCHAR me[] = u"me";

int main(int argc, char **argv) {
    static const VFB_WCHAR token[] = u"x", message[] = u"bench", empty[] = u"";
    const char *mode;
    if (argc < 2) return usage();
    mode = argv[1];

    if (strcmp(mode, "token") == 0 && argc == 4) {
        widen(argv[2], arg1);
        widen(argv[3], arg2);
        return check("FaceBookToken", FaceBookToken(arg1, arg2));
    }
    if ((strcmp(mode, "photo") == 0 || strcmp(mode, "video") == 0) && argc == 4) {
        widen(argv[2], arg1);
        widen(argv[3], arg2);
        if (mode[0] == 'p')
            return check("FaceBookPictureUpload", FaceBookPictureUpload(arg1, me, message, token, arg2));
        return check("FaceBookVideoUpload", FaceBookVideoUpload(arg1, me, message, token, arg2));
    }
    /* The target is the first path segment of the post ("/TARGET/feed"),
     * which lets nginx serve the same answer with another connection policy. */
    if (strcmp(mode, "status") == 0 && (argc == 4 || argc == 5)) {
        const VFB_WCHAR *target = me;
        long count = strtol(argv[2], NULL, 10), i;
        if (count <= 0) return usage();
        widen(argv[3], arg1);
        if (argc == 5) {
            widen(argv[4], arg2);
            target = arg2;
        }
        for (i = 0; i < count; ++i) {
            if (check("FaceBookStatus", FaceBookStatus(message, token, target, empty, arg1))) return 1;
        }
        return 0;
    }
    if (strcmp(mode, "both") == 0 && argc == 6) {
        widen(argv[2], arg1);
        widen(argv[4], arg2);
        if (check("FaceBookToken", FaceBookToken(arg1, arg2))) return 1;
        widen(argv[3], arg1);
        widen(argv[5], arg3);
        return check("FaceBookPictureUpload", FaceBookPictureUpload(arg1, me, message, token, arg3));
    }
    return usage();
}
