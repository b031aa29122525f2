#pragma once

// printf-style console output. Adds no line break: every message carries its own "\n".
// Text longer than the 10,000-byte buffer is cut. Each call is one flushed write, so both
// threads may log at once and lines appear immediately on a pipe or a file.
void consoleLog(const char* format, ...) __attribute__((format(printf, 1, 2)));
