// A C++ application built against an installed VantrelFB: the samples, and
// every export of the ordinal table present in the process.
#include <dlfcn.h>
#include <vantrelfb.h>

#include <cstdio>

int main() {
    if (fnVantrelFB() != 42) return 1;
    CVantrelFB a, b;
    if (&(a = b) != &a) return 2;
    if (nVantrelFB != 0) return 3;
    for (int ordinal = 1; ordinal <= VFB_EXPORT_COUNT; ++ordinal) {
        const char *name = vfb_export_name(ordinal);
        if (!name || !dlsym(RTLD_DEFAULT, name)) {
            std::fprintf(stderr, "export %d (%s) not found\n", ordinal, name ? name : "?");
            return 4;
        }
    }
    std::puts("c++ application: ok");
    return 0;
}
