/*
 * The library as a plug-in: loaded with dlopen, used until a connection is
 * pooled, unloaded with dlclose, which must close every pooled connection and
 * free what the pool holds; then loaded, used and unloaded again from another
 * thread. Runs inside the sandbox (tests/e2e/sandbox.sh).
 *
 *   vantrelfb_unload /path/to/libvantrelfb.so.1
 */
#define _GNU_SOURCE
#include <dirent.h>
#include <dlfcn.h>
#include <pthread.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "vantrelfb.h"

typedef int (*StatusFn)(const VFB_WCHAR *, const VFB_WCHAR *, const VFB_WCHAR *, const VFB_WCHAR *,
                        const VFB_WCHAR *);

static const char *library;

static int CountDescriptors(void)
{
    int n = 0;
    DIR *d = opendir("/proc/self/fd");
    if (!d) return -1;
    while (readdir(d)) ++n;
    closedir(d);
    return n;
}

static int WriteScript(void)
{
    char path[4096];
    const char *dir = getenv("VFB_FAKE_DIR");
    if (!dir) return 0;
    snprintf(path, sizeof path, "%s/script.json.tmp", dir);
    FILE *f = fopen(path, "w");
    if (!f) return 0;
    fputs("[{\"status\": 200, \"body\": \"{}\", \"keep_alive\": 10},"
          " {\"status\": 200, \"body\": \"{}\", \"keep_alive\": 10}]\n", f);
    fclose(f);
    char final[4096];
    snprintf(final, sizeof final, "%s/script.json", dir);
    return rename(path, final) == 0;
}

/* Loads the library, makes two calls (the second on the pooled connection),
 * unloads it. 0 when all went well. */
static int UseOnce(void)
{
    if (!WriteScript()) return 10;
    void *handle = dlopen(library, RTLD_NOW | RTLD_LOCAL);
    if (!handle) {
        fprintf(stderr, "dlopen: %s\n", dlerror());
        return 11;
    }
    StatusFn status = (StatusFn)dlsym(handle, "FaceBookStatus");
    if (!status) return 12;
    for (int i = 0; i < 2; ++i)
        if (status(u"m", u"T", u"1", NULL, u"/tmp/vfb-unload.out") != VFB_DONE) return 13 + i;
    dlclose(handle);
    return 0;
}

static void *UseOnceInThread(void *result)
{
    *(int *)result = UseOnce();
    return NULL;
}

int main(int argc, char **argv)
{
    if (argc != 2 || !getenv("VFB_FAKE_DIR")) {
        fprintf(stderr, "usage: vantrelfb_unload LIBRARY (inside tests/e2e/sandbox.sh)\n");
        return 2;
    }
    library = argv[1];
    /* libcurl and the TLS library may keep what they set up once per process. */
    int failed = UseOnce();
    const int before = CountDescriptors();
    if (!failed) failed = UseOnce();
    int after = CountDescriptors();
    if (!failed && after != before) {
        fprintf(stderr, "descriptors before loading: %d, after unloading: %d\n", before, after);
        failed = 20;
    }
    pthread_t thread;
    int threadResult = -1;
    if (!failed && pthread_create(&thread, NULL, UseOnceInThread, &threadResult) == 0) {
        pthread_join(thread, NULL);
        failed = threadResult;
        after = CountDescriptors();
        if (!failed && after != before) {
            fprintf(stderr, "after a load from another thread: %d descriptors, %d before\n", after, before);
            failed = 21;
        }
    }
    if (failed) {
        fprintf(stderr, "unload: failed (%d)\n", failed);
        return 1;
    }
    puts("unload: every pooled connection closed at dlclose; loading again works, also from another thread");
    return 0;
}
