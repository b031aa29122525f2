// The server's lookups of players by TCP connection and by player key.
#include "Common/SceneGraph.h"

Transform* SceneGraph::findByConnection(void* connection) {
    const auto it = connectionMap.find(connection);
    return it != connectionMap.end() ? it->second : nullptr;
}

Transform* SceneGraph::findByKey(std::int64_t key) {
    const auto it = keyMap.find(key);
    return it != keyMap.end() ? it->second : nullptr;
}

void SceneGraph::unfileConnection(void* connection) {
    connectionMap.erase(connection);
}
