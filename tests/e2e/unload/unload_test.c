/*
 * The library as a plug-in: loaded with dlopen, used until a connection is
 * pooled (and the sign-in's per-thread text is set), unloaded with dlclose,
 * which must close every pooled connection, free what the pool holds and
 * leave nothing mapped; then loaded, used and unloaded again from another
 * thread, and forty times more with the heap back where it was. Finally a
 * call made while the process exits, after the library's own clean-up, must
 * not crash. Runs inside the sandbox (tests/e2e/sandbox.sh).
 *
 *   vantrelfb_unload /path/to/libvantrelfb.so.1
 */
#define _GNU_SOURCE
#include <dirent.h>
#include <dlfcn.h>
#include <malloc.h>
#include <pthread.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "vantrelfb.h"

typedef int (*StatusFn)(const VFB_WCHAR *, const VFB_WCHAR *, const VFB_WCHAR *, const VFB_WCHAR *,
                        const VFB_WCHAR *);

typedef const VFB_WCHAR *(*SignInFn)(void);

static const char *library;
static StatusFn lateStatus;

static int CountDescriptors(void) {
    int n = 0;
    DIR *d = opendir("/proc/self/fd");
    if (!d) return -1;
    while (readdir(d)) ++n;
    closedir(d);
    return n;
}

static int StillMapped(void) {
    char line[4096];
    int found = 0;
    const char *name = strrchr(library, '/') ? strrchr(library, '/') + 1 : library;
    FILE *maps = fopen("/proc/self/maps", "r");
    if (!maps) return 1;
    while (fgets(line, sizeof line, maps))
        if (strstr(line, name)) found = 1;
    fclose(maps);
    return found;
}

static int WriteScript(void) {
    char path[4096];
    const char *dir = getenv("VFB_FAKE_DIR");
    if (!dir) return 0;
    snprintf(path, sizeof path, "%s/script.json.tmp", dir);
    FILE *f = fopen(path, "w");
    if (!f) return 0;
    fputs(
        "[{\"status\": 200, \"body\": \"{}\", \"keep_alive\": 10},"
        " {\"status\": 200, \"body\": \"{}\", \"keep_alive\": 10},"
        " {\"status\": 302, \"body\": \"\", \"keep_alive\": 10,"
        " \"headers\": [\"Location: https://www.facebook.com/#t\"]}]\n",
        f);
    fclose(f);
    char final[4096];
    snprintf(final, sizeof final, "%s/script.json", dir);
    return rename(path, final) == 0;
}

/* Loads the library, makes two calls (the second on the pooled connection),
 * unloads it. 0 when all went well. */
static int UseOnce(void) {
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
    SignInFn signIn = (SignInFn)dlsym(handle, "FaceBookTokenGraph");
    if (!signIn || !signIn()[0]) return 15;
    dlclose(handle);
    if (StillMapped()) {
        fprintf(stderr, "the library is still mapped after dlclose\n");
        return 16;
    }
    return 0;
}

static void CallWhileExiting(void) {
    if (!lateStatus) return;
    const int code = lateStatus(u"m", u"T", u"1", NULL, u"/tmp/vfb-late.out");
    printf("unload: a call made during exit returned %d\n", code);
    fflush(stdout);
}

static void *UseOnceInThread(void *result) {
    *(int *)result = UseOnce();
    return NULL;
}

int main(int argc, char **argv) {
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
    /* Every cycle frees what it took: a few KiB of slack, not the tens of
     * KiB a runtime buffer left behind each time would add up to. */
    const size_t heapBefore = mallinfo2().uordblks;
    for (int i = 0; i < 40 && !failed; ++i) failed = UseOnce();
    const size_t heapAfter = mallinfo2().uordblks;
    if (!failed && heapAfter > heapBefore + 40 * 4096) {
        fprintf(stderr, "40 load cycles grew the heap from %zu to %zu bytes\n", heapBefore, heapAfter);
        failed = 22;
    }
    if (failed) {
        fprintf(stderr, "unload: failed (%d)\n", failed);
        return 1;
    }
    /* Registered before the library's first call, so it runs after whatever
     * the library registers for its own clean-up at exit. */
    atexit(CallWhileExiting);
    void *kept = dlopen(library, RTLD_NOW | RTLD_LOCAL);
    lateStatus = kept ? (StatusFn)dlsym(kept, "FaceBookStatus") : NULL;
    if (!lateStatus || !WriteScript() ||
        lateStatus(u"m", u"T", u"1", NULL, u"/tmp/vfb-unload.out") != VFB_DONE) {
        fprintf(stderr, "unload: the library kept for exit did not work\n");
        return 1;
    }
    puts("unload: every pooled connection closed at dlclose; loading again works, also from another thread");
    return 0;
}
