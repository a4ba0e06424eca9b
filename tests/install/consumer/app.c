/* A C application built against an installed VantrelFB. It sends nothing:
 * taking the exports' addresses is enough to make the linker and the loader
 * resolve them from the installed library. */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <vantrelfb.h>
#include <vantrelfb_utf.h>

/* The header declares the sample variable for C++ only; its symbol is plain. */
extern int nVantrelFB;

int main(void) {
    int (*volatile fetch)(const VFB_WCHAR *, const VFB_WCHAR *) = FaceBookToken;
    const VFB_WCHAR *(*volatile signin)(void) = FaceBookTokenGraph;
    int written = 0;

    if (!fetch || !signin) return 1;
    if (strcmp(vfb_export_name(1), "FaceBookToken") != 0) return 2;
    if (strcmp(vfb_export_name(12), "FaceBookDelete") != 0) return 3;
    if (vfb_export_name(0) != NULL || vfb_export_name(VFB_EXPORT_COUNT + 1) != NULL) return 4;
    if (strcmp(vfb_export_name(17), "vfb_last_call") != 0 || strcmp(vfb_result_meaning(VFB_ERR_READ), "reading the response failed") != 0)
        return 7;
    if (strncmp(vfb_result_meaning(VFB_DONE, &written), "done", 4) != 0 || written != 1) return 5;
    if (nVantrelFB != 0) return 6;
    /* The installed converter: a round trip through a surrogate pair, and no
     * silent replacement of malformed input (an overlong slash, a lone
     * surrogate). */
    {
        static const VFB_WCHAR want[] = {'G', 0xFC, 0x20AC, 0xD83D, 0xDE00, 0};
        VFB_WCHAR *wide = vfb_utf16_from_utf8("G\xC3\xBC\xE2\x82\xAC\xF0\x9F\x98\x80");
        char *back = wide ? vfb_utf8_from_utf16(wide) : NULL;
        static const VFB_WCHAR lone[] = {'a', 0xD800, 0};
        const int ok = wide && memcmp(wide, want, sizeof want) == 0 && back &&
                       strcmp(back, "G\xC3\xBC\xE2\x82\xAC\xF0\x9F\x98\x80") == 0 &&
                       vfb_utf16_from_utf8("a\xC0\xAF") == NULL && vfb_utf16_from_utf8("\xED\xA0\x80") == NULL &&
                       vfb_utf8_from_utf16(lone) == NULL;
        free(wide);
        free(back);
        if (!ok) return 8;
    }
    puts("c application: ok");
    return 0;
}
