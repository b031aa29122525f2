/* Preloaded into the sanitizer build of the server for soak runs: the server ends by _Exit,
 * which skips the leak check that LeakSanitizer runs at a normal exit. This runs it first.
 * Preload after the sanitizer runtime: LD_PRELOAD=<libasan.so>:<this library>. */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <stdlib.h>
#include <unistd.h>

extern void __lsan_do_leak_check(void) __attribute__((weak));

static void checkLeaks(void) {
    if (__lsan_do_leak_check) {
        __lsan_do_leak_check(); /* ends the process with LeakSanitizer's exit code on a leak */
    }
}

void _Exit(int status) {
    checkLeaks();
    void (*real)(int) = (void (*)(int))dlsym(RTLD_NEXT, "_Exit");
    real(status);
    for (;;) {
    }
}

void _exit(int status) {
    checkLeaks();
    void (*real)(int) = (void (*)(int))dlsym(RTLD_NEXT, "_exit");
    real(status);
    for (;;) {
    }
}

void quick_exit(int status) {
    checkLeaks();
    void (*real)(int) = (void (*)(int))dlsym(RTLD_NEXT, "quick_exit");
    real(status);
    for (;;) {
    }
}
