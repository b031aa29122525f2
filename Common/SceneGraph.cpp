#include "Common/SceneGraph.h"
#include "Common/ObjectTypes.h"

#include <algorithm>

namespace {

template <typename Map, typename Key>
void eraseIfFiled(Map& map, const Key& key, Transform* object) {
    const auto entry = map.find(key);
    if (entry != map.end() && entry->second == object) {
        map.erase(entry);
    }
}

template <typename Container>
void eraseFirst(Container& items, Transform* object) {
    const auto it = std::find(items.begin(), items.end(), object);
    if (it != items.end()) {
        items.erase(it);
    }
}

}  // namespace

SceneGraph* SceneGraph::getInstance() {
    static SceneGraph* instance = new SceneGraph();
    return instance;
}

SceneGraph::SceneGraph() : Transform() {}

SceneGraph::~SceneGraph() {
    deleteChildren();
}

void SceneGraph::add(Transform* object) {
    object->parent = this;
    children.push_back(object);
    getInstance()->fileObject(object, object->objectType);
}

void SceneGraph::fileObject(Transform* object, std::int32_t type) {
    ObjectList* group = getObjectsOfType(type);
    if (group == nullptr) {
        typeGroups.emplace_back(type, ObjectList());
        group = &typeGroups.back().second;
    }
    group->push_back(object);
    if (type == kPlayerType) {
        connectionMap[object->getConnectionKey()] = object;
        keyMap[object->getKey()] = object;
    }
    idMap[object->id] = object;
}

Transform* SceneGraph::find(std::uint64_t objectId) {
    const auto it = idMap.find(objectId);
    return it != idMap.end() ? it->second : nullptr;
}

SceneGraph::ObjectList* SceneGraph::getObjectsOfType(std::int32_t type) {
    for (auto& group : typeGroups) {
        if (group.first == type) {
            return &group.second;
        }
    }
    return nullptr;
}

void SceneGraph::remove(Transform* object) {
    if (object == nullptr || object == this) {
        return;
    }
    if (object->parent != nullptr) {
        queueRemoval(&object->parent->children, object);
        return;
    }
    // Not in any child list: nothing to unlink, but it still has to leave the indexes.
    if (std::find(pendingRemovals.begin(), pendingRemovals.end(), object) ==
        pendingRemovals.end()) {
        pendingRemovals.push_back(object);
    }
}

void SceneGraph::queueRemoval(std::list<Transform*>* childList, Transform* object) {
    if (std::find(pendingRemovals.begin(), pendingRemovals.end(), object) !=
        pendingRemovals.end()) {
        return;
    }
    auto entry = std::find_if(pendingUnlinks.begin(), pendingUnlinks.end(),
                              [childList](const auto& e) { return e.first == childList; });
    if (entry == pendingUnlinks.end()) {
        pendingUnlinks.emplace_back(childList, std::vector<Transform*>());
        entry = pendingUnlinks.end() - 1;
    }
    entry->second.push_back(object);
    pendingRemovals.push_back(object);
}

void SceneGraph::flushRemovals() {
    // Taken out first, so that a destructor that queues a removal leaves it for the next flush
    // instead of growing the lists being walked.
    std::vector<std::pair<std::list<Transform*>*, std::vector<Transform*>>> unlinks;
    std::vector<Transform*> removals;
    unlinks.swap(pendingUnlinks);
    removals.swap(pendingRemovals);

    // Every unlink before any deletion: a queued parent must not take a queued child with it.
    for (auto& entry : unlinks) {
        for (Transform* object : entry.second) {
            eraseFirst(*entry.first, object);
        }
    }

    for (Transform* object : removals) {
        // Untyped objects have a group too; leaving them in it would leave a dangling pointer.
        if (ObjectList* group = getObjectsOfType(object->objectType)) {
            eraseFirst(*group, object);
        }
        // The keys are asked for again now, so they must not have changed since filing. An
        // entry that a later object took over under the same key (a reused qport, a reused id)
        // stays: it names a live object.
        eraseIfFiled(connectionMap, object->getConnectionKey(), object);
        eraseIfFiled(keyMap, object->getKey(), object);
        eraseIfFiled(idMap, object->id, object);
        object->deleteChildren();
        delete object;
    }
}

void SceneGraph::resetForTesting() {
    deleteChildren();
    pendingUnlinks.clear();
    pendingRemovals.clear();
    typeGroups.clear();
    connectionMap.clear();
    keyMap.clear();
    idMap.clear();
}
