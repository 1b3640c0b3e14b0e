/* Records every function entry of a program built with -finstrument-functions:
 * the function, the call site and the thread, appended to the file that
 * CROSSINGS_TRACE names; an exit is recorded with a call site of zero. bench/crossings.sh reads it.
 * Not a test, and not in any shipped build. */
#include <fcntl.h>
#include <pthread.h>
#include <stdlib.h>
#include <unistd.h>

static int trace = -1;

__attribute__((no_instrument_function)) static void record(void* function, void* call_site) {
    if (trace == -1) {
        const char* path = getenv("CROSSINGS_TRACE");
        if (path == NULL || (trace = open(path, O_WRONLY | O_CREAT | O_APPEND, 0644)) < 0) {
            return;
        }
    }
    void* entry[3] = {function, call_site, (void*)pthread_self()};
    /* One write an entry, O_APPEND: entries of several threads do not mix. */
    if (write(trace, entry, sizeof entry) < 0) {
        trace = -2;
    }
}

__attribute__((no_instrument_function)) void __cyg_profile_func_enter(void* function,
                                                                      void* call_site) {
    record(function, call_site);
}

__attribute__((no_instrument_function)) void __cyg_profile_func_exit(void* function,
                                                                     void* call_site) {
    (void)call_site;
    record(function, NULL);
}
