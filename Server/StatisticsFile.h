#pragma once

// The once-a-second task that appends one row to the statistics file; registered by main
// only when logging is on. The Statistics operations behind it live in StatisticsFile.cpp.
void writeStatisticsRow();
