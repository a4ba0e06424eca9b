/* A C application built against an installed VantrelFB. It sends nothing:
 * taking the exports' addresses is enough to make the linker and the loader
 * resolve them from the installed library. */
#include <stdio.h>
#include <string.h>
#include <vantrelfb.h>

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
    puts("c application: ok");
    return 0;
}
