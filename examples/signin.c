/*
 * Requests the sign-in dialog and prints where it redirects.
 *
 *   signin
 *
 * The returned text is the dialog's Location; after a successful sign-in the
 * access token is in its fragment (#access_token=...). It belongs to this
 * thread and stays valid until the thread's next call: copy it, never free it.
 * The page itself goes to the fixed file /temp4/Report2.txt (\temp4\Report2.txt
 * on Windows) when that folder exists.
 */
#include <stdio.h>
#include <stdlib.h>
#include <vantrelfb.h>

#include <vantrelfb_utf.h>

int main(void)
{
    const VFB_WCHAR *location = FaceBookTokenGraph();
    if (!location[0]) {
        fprintf(stderr, "no Location: the sign-in request failed\n");
        return 1;
    }
    char *text = vfb_utf8_from_utf16(location);
    if (!text) return 2;
    printf("%s\n", text);
    free(text);
    return 0;
}
