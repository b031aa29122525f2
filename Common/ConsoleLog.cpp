#include "Common/ConsoleLog.h"

#include <cstdarg>
#include <cstdio>

void consoleLog(const char* format, ...) {
    char buffer[10000];
    va_list args;
    va_start(args, format);
    const int n = std::vsnprintf(buffer, sizeof buffer, format, args);
    va_end(args);
    if (n < 0) {
        return;
    }
    // vsnprintf cuts at the buffer's end; write only what is in it.
    const std::size_t length = static_cast<std::size_t>(n) < sizeof buffer
                                   ? static_cast<std::size_t>(n)
                                   : sizeof buffer - 1;
    std::fwrite(buffer, 1, length, stdout);
    std::fflush(stdout);
}
