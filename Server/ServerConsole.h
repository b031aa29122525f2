#pragma once

#include <boost/thread/mutex.hpp>
#include <deque>
#include <iosfwd>
#include <string>

#include "Common/SceneGraph.h"

// Console lines not yet handled, appended and taken at the back. The console thread only
// pushes; the tick only pops.
extern std::deque<std::string> consoleLines;
extern boost::mutex consoleMutex;

void pushConsoleLine(std::string line);
// Takes the newest line; false when there is none.
bool popConsoleLine(std::string& line);

// Queues every line of in until it ends; line ends are removed.
void readConsoleLines(std::istream& in);

// Body of the console thread: reads standard input until it ends.
struct InputServer {
    void operator()() const;
};

// A byte rate scaled to B, KB, MB or GB: "1.5KB".
std::string formatBytes(float rate);

// Answers one operator command on out. players and projectiles are the tick's lists, each
// null when no object of that kind was ever filed.
void handleConsoleLine(const std::string& line, SceneGraph::ObjectList* players,
                       SceneGraph::ObjectList* projectiles, std::ostream& out);

// Answers every queued line, newest first, including lines queued meanwhile.
void handleConsoleLines(SceneGraph::ObjectList* players, SceneGraph::ObjectList* projectiles,
                        std::ostream& out);
