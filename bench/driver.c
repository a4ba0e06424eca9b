/*
 * Runs library calls for bench/inner.sh and fails loudly when one does not
 * end in VFB_DONE, so that a broken exchange can never pass for a fast one.
 *
 *   driver token URL OUT               FaceBookToken
 *   driver photo MEDIA OUT             FaceBookPictureUpload to "me"
 *   driver video MEDIA OUT             FaceBookVideoUpload to "me"
 *   driver status COUNT OUT [TARGET]   COUNT x FaceBookStatus to TARGET ("me")
 *   driver both URL MEDIA OUT1 OUT2    FaceBookToken, then FaceBookPictureUpload
 *   driver threads N CALLS OUT REPORT [TARGET]
 *                                      N threads: each makes one warm-up
 *                                      FaceBookStatus (message "warmup"), then,
 *                                      once all have, CALLS more (message
 *                                      "bench") into OUT.<thread>; REPORT gets
 *                                      "user_s sys_s wall_s" of that timed phase
 *
 * With VFB_BENCH_PROGRESS set, a progress callback watches every call (and
 * the driver fails if it never ran), to price the callback itself.
 *
 * Plain C, like the device applications the library is for: a C++ driver
 * would load the C++ runtime into every process, which curl, the other
 * contender, does not.
 */
/* pthread barriers, clock_gettime: POSIX, also under a strict -std=c11. */
#define _POSIX_C_SOURCE 200809L
#include <pthread.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/resource.h>
#include <time.h>
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

/* The threads mode. The warm-up calls carry another message than the timed
 * ones, so that nginx's log (which records it) tells the two phases apart. */
#define THREADS_MAX 256
struct worker {
    pthread_t thread;
    VFB_WCHAR out[WIDE_MAX];
    int failed;
};
static struct worker workers[THREADS_MAX];
static pthread_barrier_t warmed, go;
static const VFB_WCHAR *threads_target;
static long threads_calls;

static void *work(void *arg) {
    static const VFB_WCHAR token[] = u"x", warmup[] = u"warmup", message[] = u"bench", empty[] = u"";
    struct worker *w = arg;
    long i;
    w->failed = check("FaceBookStatus (warm-up)", FaceBookStatus(warmup, token, threads_target, empty, w->out));
    /* Every thread waits here, failed or not, so that the others go on. */
    pthread_barrier_wait(&warmed);
    pthread_barrier_wait(&go);
    for (i = 0; i < threads_calls && !w->failed; ++i)
        w->failed = check("FaceBookStatus", FaceBookStatus(message, token, threads_target, empty, w->out));
    return NULL;
}

static double seconds(struct timeval t) { return (double)t.tv_sec + (double)t.tv_usec / 1e6; }

/* The timed phase starts when every thread has made its warm-up call and
 * ends when the last has made its CALLS; its CPU is the whole process's
 * (getrusage(RUSAGE_SELF) counts every thread), waiting threads use none. */
static int run_threads(long n, long calls, const char *out, const char *report, const char *target) {
    struct rusage r0, r1;
    struct timespec t0, t1;
    long i, started = 0;
    int failed = 0, rc;
    char path[WIDE_MAX];
    FILE *f;
    if (n <= 0 || n > THREADS_MAX || calls <= 0) return usage();
    threads_calls = calls;
    threads_target = me;
    if (target) {
        widen(target, arg2);
        threads_target = arg2;
    }
    pthread_barrier_init(&warmed, NULL, (unsigned)n + 1);
    pthread_barrier_init(&go, NULL, (unsigned)n + 1);
    for (i = 0; i < n; ++i) {
        snprintf(path, sizeof path, "%s.%ld", out, i);
        widen(path, workers[i].out);
        rc = pthread_create(&workers[i].thread, NULL, work, &workers[i]);
        if (rc != 0) {
            fprintf(stderr, "driver: pthread_create: %s\n", strerror(rc));
            exit(1); /* the started threads wait at a barrier that can never fill */
        }
        ++started;
    }
    pthread_barrier_wait(&warmed);
    getrusage(RUSAGE_SELF, &r0);
    clock_gettime(CLOCK_MONOTONIC, &t0);
    pthread_barrier_wait(&go);
    for (i = 0; i < started; ++i) {
        pthread_join(workers[i].thread, NULL);
        failed |= workers[i].failed;
    }
    clock_gettime(CLOCK_MONOTONIC, &t1);
    getrusage(RUSAGE_SELF, &r1);
    if (failed) return 1;
    f = fopen(report, "w");
    if (!f) {
        perror(report);
        return 1;
    }
    fprintf(f, "%.6f %.6f %.6f\n", seconds(r1.ru_utime) - seconds(r0.ru_utime),
            seconds(r1.ru_stime) - seconds(r0.ru_stime),
            (double)(t1.tv_sec - t0.tv_sec) + (double)(t1.tv_nsec - t0.tv_nsec) / 1e9);
    return fclose(f) == 0 ? 0 : 1;
}

static unsigned long long progressReports;

static int watch(void *user, uint64_t sent, uint64_t sendTotal, uint64_t received, uint64_t receiveTotal) {
    (void)user;
    (void)sent;
    (void)sendTotal;
    (void)received;
    (void)receiveTotal;
    ++progressReports;
    return 0;
}

static int run(int argc, char **argv);

int main(int argc, char **argv) {
    const int watched = getenv("VFB_BENCH_PROGRESS") != NULL;
    int failed;
    if (watched) vfb_set_progress(watch, NULL);
    failed = run(argc, argv);
    if (!failed && watched && progressReports == 0) {
        fprintf(stderr, "driver: the progress callback never ran\n");
        return 1;
    }
    return failed;
}

static int run(int argc, char **argv) {
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
    if (strcmp(mode, "threads") == 0 && (argc == 6 || argc == 7))
        return run_threads(strtol(argv[2], NULL, 10), strtol(argv[3], NULL, 10), argv[4], argv[5],
                           argc == 7 ? argv[6] : NULL);
    return usage();
}
