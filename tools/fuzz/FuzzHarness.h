#pragma once
// What the two receive-path fuzzers share: they drive real loopback sockets from inside
// libFuzzer's process.

#include <pthread.h>
#include <signal.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include "tools/testkit/Loopback.h"

namespace fuzzharness {

// A harness whose sockets fail cannot go on; the fuzzer reports the abort.
[[noreturn]] inline void die(const char* what) {
    std::perror(what);
    std::abort();
}

// libFuzzer's watchdog alarm would interrupt a blocking connect or accept half way.
class AlarmBlocked {
public:
    AlarmBlocked() {
        sigset_t alarm;
        sigemptyset(&alarm);
        sigaddset(&alarm, SIGALRM);
        pthread_sigmask(SIG_BLOCK, &alarm, &previous_);
    }
    ~AlarmBlocked() { pthread_sigmask(SIG_SETMASK, &previous_, nullptr); }
    AlarmBlocked(const AlarmBlocked&) = delete;
    AlarmBlocked& operator=(const AlarmBlocked&) = delete;

private:
    sigset_t previous_;
};

}  // namespace fuzzharness
