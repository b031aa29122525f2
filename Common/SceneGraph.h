#pragma once

#include <boost/unordered_map.hpp>
#include <cstdint>
#include <list>
#include <utility>
#include <vector>

#include "Common/Transform.h"

// The world: the root of every game object, with lookup indexes and deferred removal.
// Main thread only.
class SceneGraph : public Transform {
public:
    using ObjectList = std::vector<Transform*>;

    static SceneGraph* getInstance();

    // Hangs object under this graph and files it in the singleton's indexes.
    void add(Transform* object);
    void fileObject(Transform* object, std::int32_t objectType);
    Transform* find(std::uint64_t id);
    // Null when no object of that type was ever filed; a group once created stays.
    ObjectList* getObjectsOfType(std::int32_t objectType);
    // Deferred: the object stays findable, updated and drawn until flushRemovals.
    void remove(Transform* object);
    void queueRemoval(std::list<Transform*>* childList, Transform* object);
    void flushRemovals();

#ifdef MORVIK_SERVER_BUILD
    Transform* findByConnection(void* connection);
    Transform* findByKey(std::int64_t key);
    // Drops a player's connectionMap entry (the player left).
    void unfileConnection(void* connection);
#endif

    ~SceneGraph() override;

    std::vector<std::pair<std::list<Transform*>*, std::vector<Transform*>>> pendingUnlinks;
    std::vector<Transform*> pendingRemovals;
    // A list, so that a group's address stays valid when later types add groups.
    std::list<std::pair<std::int32_t, ObjectList>> typeGroups;
    boost::unordered_map<void*, Transform*> connectionMap;
    boost::unordered_map<std::int64_t, Transform*> keyMap;
    boost::unordered_map<std::uint64_t, Transform*> idMap;

    // Tests only: deletes every object and empties the indexes.
    void resetForTesting();

private:
    SceneGraph();
};
