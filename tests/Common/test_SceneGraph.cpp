#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "Common/CollisionObject.h"
#include "Common/ObjectTypes.h"
#include "Common/SceneGraph.h"

namespace {

std::vector<std::string> updateLog;
std::vector<std::string> deleteLog;

// A game object whose keys the test chooses, and which logs its updates and deletion.
struct Probe : CollisionObject {
    Probe(std::string name, std::uint64_t objectId, std::int32_t type, std::int64_t key = 0,
          void* connection = nullptr)
        : CollisionObject(objectId), name(std::move(name)), key(key), connection(connection) {
        objectType = type;
    }
    ~Probe() override { deleteLog.push_back(name); }

    void update(float dt) override {
        updateLog.push_back(name);
        Transform::update(dt);
        if (spawnOnUpdate != nullptr) {
            SceneGraph::getInstance()->add(spawnOnUpdate);
            spawnOnUpdate = nullptr;
        }
    }
    std::int64_t getKey() override { return key != 0 ? key : Transform::getKey(); }
    void* getConnectionKey() override {
        return connection != nullptr ? connection : Transform::getConnectionKey();
    }

    std::string name;
    std::int64_t key;
    void* connection;
    Transform* spawnOnUpdate = nullptr;
};

// Queues another removal from its destructor, as an object that takes others with it might.
struct RemovingProbe : Probe {
    using Probe::Probe;
    ~RemovingProbe() override { SceneGraph::getInstance()->remove(victim); }
    Transform* victim = nullptr;
};

void* fakeConnection(std::uintptr_t n) {
    return reinterpret_cast<void*>(n);
}

class SceneGraphTest : public ::testing::Test {
protected:
    void SetUp() override {
        graph = SceneGraph::getInstance();
        graph->resetForTesting();
        updateLog.clear();
        deleteLog.clear();
    }
    void TearDown() override { graph->resetForTesting(); }

    int deletions(const std::string& name) const {
        return static_cast<int>(std::count(deleteLog.begin(), deleteLog.end(), name));
    }

    SceneGraph* graph = nullptr;
};

TEST_F(SceneGraphTest, RootIsAnUntypedTransformWithIdZero) {
    EXPECT_EQ(graph, SceneGraph::getInstance());
    EXPECT_EQ(graph->id, 0u);
    EXPECT_EQ(graph->objectType, kNoType);
    EXPECT_EQ(graph->parent, nullptr);
}

TEST_F(SceneGraphTest, AddHangsTheObjectUnderTheRootAndFilesIt) {
    auto* p = new Probe("p", 42, kProjectileType);
    graph->add(p);
    EXPECT_EQ(p->parent, graph);
    ASSERT_EQ(graph->children.size(), 1u);
    EXPECT_EQ(graph->children.front(), p);
    EXPECT_EQ(graph->find(42), p);
    EXPECT_EQ(graph->find(43), nullptr);
    ASSERT_NE(graph->getObjectsOfType(kProjectileType), nullptr);
    EXPECT_EQ(graph->getObjectsOfType(kProjectileType)->size(), 1u);
}

TEST_F(SceneGraphTest, UpdateAllGoesDepthFirstParentBeforeChildren) {
    Probe root("root", 1, 3);
    auto* a = new Probe("A", 2, kCarrierType);
    auto* a1 = new Probe("A1", 3, kCarrierType);
    auto* b = new Probe("B", 4, kCarrierType);
    a->children.push_back(a1);
    root.children.push_back(a);
    root.children.push_back(b);
    root.updateAll(0.1f);
    EXPECT_EQ(updateLog, (std::vector<std::string>{"root", "A", "A1", "B"}));
    EXPECT_FLOAT_EQ(a1->timeSinceSample, 0.1f);
    root.deleteChildren();
}

TEST_F(SceneGraphTest, ObjectsAddedDuringTheWalkAreReachedInTheSamePass) {
    auto* shooter = new Probe("shooter", 1, kPlayerType, 11, fakeConnection(0x10));
    auto* other = new Probe("other", 2, kPlayerType, 12, fakeConnection(0x20));
    shooter->spawnOnUpdate = new Probe("shot", 3, kProjectileType);
    graph->add(shooter);
    graph->add(other);
    graph->updateAll(0.03f);
    EXPECT_EQ(updateLog, (std::vector<std::string>{"shooter", "other", "shot"}));
    EXPECT_EQ(graph->children.back()->id, 3u);
}

TEST_F(SceneGraphTest, RemovalIsDeferredUntilTheFlush) {
    auto* p = new Probe("p", 42, kProjectileType);
    graph->add(p);
    graph->remove(p);
    EXPECT_EQ(graph->find(42), p);
    graph->updateAll(0.1f);
    EXPECT_EQ(updateLog, std::vector<std::string>{"p"});
    EXPECT_EQ(graph->children.size(), 1u);
    EXPECT_TRUE(deleteLog.empty());

    graph->flushRemovals();
    EXPECT_EQ(deletions("p"), 1);
    EXPECT_EQ(graph->find(42), nullptr);
    EXPECT_TRUE(graph->children.empty());
    EXPECT_TRUE(graph->getObjectsOfType(kProjectileType)->empty());
    EXPECT_TRUE(graph->pendingRemovals.empty());
    EXPECT_TRUE(graph->pendingUnlinks.empty());
}

TEST_F(SceneGraphTest, RemovingTwiceDeletesOnce) {
    auto* p = new Probe("p", 42, kProjectileType);
    graph->add(p);
    graph->remove(p);
    graph->remove(p);
    graph->queueRemoval(&graph->children, p);
    EXPECT_EQ(graph->pendingRemovals.size(), 1u);
    ASSERT_EQ(graph->pendingUnlinks.size(), 1u);
    EXPECT_EQ(graph->pendingUnlinks[0].second.size(), 1u);
    graph->flushRemovals();
    EXPECT_EQ(deletions("p"), 1);
    graph->flushRemovals();
    EXPECT_EQ(deletions("p"), 1);
}

TEST_F(SceneGraphTest, UnlinksAreGroupedByParent) {
    auto* holder = new Probe("holder", 1, kCarrierType);
    graph->add(holder);
    auto* inner = new Probe("inner", 2, kProjectileType);
    inner->parent = holder;
    holder->children.push_back(inner);
    graph->fileObject(inner, inner->objectType);
    auto* outer = new Probe("outer", 3, kProjectileType);
    graph->add(outer);

    graph->remove(inner);
    graph->remove(outer);
    ASSERT_EQ(graph->pendingUnlinks.size(), 2u);
    EXPECT_EQ(graph->pendingUnlinks[0].first, &holder->children);
    EXPECT_EQ(graph->pendingUnlinks[1].first, &graph->children);
    graph->flushRemovals();
    EXPECT_TRUE(holder->children.empty());
    EXPECT_EQ(graph->children, std::list<Transform*>{holder});
    EXPECT_EQ(deleteLog, (std::vector<std::string>{"inner", "outer"}));
}

TEST_F(SceneGraphTest, ParentAndChildRemovedTogetherAreEachDeletedOnce) {
    for (bool parentFirst : {true, false}) {
        deleteLog.clear();
        auto* parent = new Probe("parent", 1, kCarrierType);
        graph->add(parent);
        auto* child = new Probe("child", 2, kProjectileType);
        child->parent = parent;
        parent->children.push_back(child);
        graph->fileObject(child, 1);
        if (parentFirst) {
            graph->remove(parent);
            graph->remove(child);
        } else {
            graph->remove(child);
            graph->remove(parent);
        }
        graph->flushRemovals();
        EXPECT_EQ(deletions("parent"), 1) << parentFirst;
        EXPECT_EQ(deletions("child"), 1) << parentFirst;
        EXPECT_EQ(graph->find(2), nullptr);
    }
}

TEST_F(SceneGraphTest, RemovalQueuedDuringTheFlushWaitsForTheNextOne) {
    auto* first = new RemovingProbe("first", 1, kProjectileType);
    auto* second = new Probe("second", 2, kProjectileType);
    first->victim = second;
    graph->add(first);
    graph->add(second);
    graph->remove(first);
    graph->flushRemovals();
    EXPECT_EQ(deleteLog, std::vector<std::string>{"first"});
    EXPECT_EQ(graph->find(2), second);
    EXPECT_EQ(graph->pendingRemovals, std::vector<Transform*>{second});
    graph->flushRemovals();
    EXPECT_EQ(deleteLog, (std::vector<std::string>{"first", "second"}));
    EXPECT_TRUE(graph->children.empty());
}

TEST_F(SceneGraphTest, ObjectWithoutParentIsDeletedWithoutUnlinking) {
    auto* loose = new Probe("loose", 9, kProjectileType);
    graph->fileObject(loose, 1);
    graph->remove(loose);
    graph->remove(loose);
    EXPECT_TRUE(graph->pendingUnlinks.empty());
    graph->flushRemovals();
    EXPECT_EQ(deletions("loose"), 1);
    EXPECT_EQ(graph->find(9), nullptr);
    EXPECT_TRUE(graph->getObjectsOfType(kProjectileType)->empty());

    graph->remove(graph);  // the root is never removed
    graph->remove(nullptr);
    EXPECT_TRUE(graph->pendingRemovals.empty());
}

TEST_F(SceneGraphTest, GroupsAppearOnFirstUseAndStay) {
    EXPECT_EQ(graph->getObjectsOfType(kPlayerType), nullptr);
    auto* player = new Probe("player", 1, kPlayerType, 100, fakeConnection(0x100));
    graph->add(player);
    SceneGraph::ObjectList* players = graph->getObjectsOfType(kPlayerType);
    ASSERT_NE(players, nullptr);
    EXPECT_EQ(*players, SceneGraph::ObjectList{player});

    // New groups for other types must not move the players' group.
    for (std::int32_t type = 1; type < 40; ++type) {
        graph->add(new Probe("x", 1000 + static_cast<std::uint64_t>(type), type));
    }
    EXPECT_EQ(graph->getObjectsOfType(kPlayerType), players);
    EXPECT_EQ(*players, SceneGraph::ObjectList{player});

    graph->remove(player);
    graph->flushRemovals();
    ASSERT_EQ(graph->getObjectsOfType(kPlayerType), players);
    EXPECT_TRUE(players->empty());
}

TEST_F(SceneGraphTest, GroupsKeepFirstAppearanceAndFilingOrder) {
    auto* s1 = new Probe("s1", 1, kProjectileType);
    auto* p1 = new Probe("p1", 2, kPlayerType, 21, fakeConnection(0x21));
    auto* s2 = new Probe("s2", 3, kProjectileType);
    auto* u = new Probe("u", 4, kNoType);
    graph->add(s1);
    graph->add(p1);
    graph->add(s2);
    graph->add(u);
    std::vector<std::int32_t> order;
    for (const auto& group : graph->typeGroups) {
        order.push_back(group.first);
    }
    EXPECT_EQ(order, (std::vector<std::int32_t>{kProjectileType, kPlayerType, kNoType}));
    EXPECT_EQ(*graph->getObjectsOfType(kProjectileType), (SceneGraph::ObjectList{s1, s2}));

    // Untyped objects have a group too, and leave it when removed.
    EXPECT_EQ(*graph->getObjectsOfType(kNoType), SceneGraph::ObjectList{u});
    graph->remove(u);
    graph->remove(s1);
    graph->flushRemovals();
    EXPECT_TRUE(graph->getObjectsOfType(kNoType)->empty());
    EXPECT_EQ(*graph->getObjectsOfType(kProjectileType), SceneGraph::ObjectList{s2});
}

TEST_F(SceneGraphTest, OnlyPlayersAreFiledByKeyAndConnection) {
    auto* player = new Probe("player", 1, kPlayerType, 0x7F0000010001, fakeConnection(0xC0));
    auto* shot = new Probe("shot", 2, kProjectileType, 0x7F0000010002, fakeConnection(0xC1));
    graph->add(player);
    graph->add(shot);
    EXPECT_EQ(graph->keyMap.size(), 1u);
    EXPECT_EQ(graph->connectionMap.size(), 1u);
    EXPECT_EQ(graph->keyMap.at(0x7F0000010001), player);
    EXPECT_EQ(graph->connectionMap.at(fakeConnection(0xC0)), player);
    EXPECT_EQ(graph->idMap.size(), 2u);

    graph->remove(player);
    graph->flushRemovals();
    EXPECT_TRUE(graph->keyMap.empty());
    EXPECT_TRUE(graph->connectionMap.empty());
    EXPECT_EQ(graph->idMap.size(), 1u);
}

TEST_F(SceneGraphTest, KeysAreAskedForAgainAtFlushTime) {
    auto* player = new Probe("player", 1, kPlayerType, 77, fakeConnection(0x77));
    graph->add(player);
    // The player also under the keys it will report when flushed.
    graph->keyMap[88] = player;
    graph->connectionMap[fakeConnection(0x88)] = player;

    player->key = 88;
    player->connection = fakeConnection(0x88);
    graph->remove(player);
    graph->flushRemovals();
    EXPECT_EQ(graph->keyMap.count(88), 0u);
    EXPECT_EQ(graph->connectionMap.count(fakeConnection(0x88)), 0u);
    // The entries filed under the old keys were not looked at.
    EXPECT_EQ(graph->keyMap.count(77), 1u);
    EXPECT_EQ(graph->connectionMap.count(fakeConnection(0x77)), 1u);
    graph->keyMap.clear();
    graph->connectionMap.clear();
}

TEST_F(SceneGraphTest, SameIdFiledTwiceKeepsTheLaterUntilTheLaterGoes) {
    auto* early = new Probe("early", 5, kProjectileType);
    auto* late = new Probe("late", 5, kProjectileType);
    graph->add(early);
    graph->add(late);
    EXPECT_EQ(graph->find(5), late);
    // Flushing the earlier one must not take the later one's entry with it.
    graph->remove(early);
    graph->flushRemovals();
    EXPECT_EQ(graph->find(5), late);
    EXPECT_EQ(graph->children, std::list<Transform*>{late});
    graph->remove(late);
    graph->flushRemovals();
    EXPECT_EQ(graph->find(5), nullptr);
}

TEST_F(SceneGraphTest, PlayerKeyReusedByALaterPlayerSurvivesTheEarlierOnesRemoval) {
    // After the qport counter wraps, two players can share a key; the one still playing must
    // stay reachable by its datagrams when the other leaves.
    auto* early = new Probe("early", 1, kPlayerType, 77, fakeConnection(0x10));
    auto* late = new Probe("late", 2, kPlayerType, 77, fakeConnection(0x20));
    graph->add(early);
    graph->add(late);
    graph->remove(early);
    graph->flushRemovals();
    ASSERT_EQ(graph->keyMap.count(77), 1u);
    EXPECT_EQ(graph->keyMap[77], late);
    EXPECT_EQ(graph->connectionMap.count(fakeConnection(0x10)), 0u);
    EXPECT_EQ(graph->connectionMap[fakeConnection(0x20)], late);
}

TEST_F(SceneGraphTest, ResetDeletesEverythingAndForgetsGroups) {
    graph->add(new Probe("a", 1, kPlayerType, 5, fakeConnection(0x5)));
    graph->add(new Probe("b", 2, kProjectileType));
    graph->remove(graph->find(2));
    graph->resetForTesting();
    EXPECT_EQ(deleteLog.size(), 2u);
    EXPECT_TRUE(graph->children.empty());
    EXPECT_EQ(graph->getObjectsOfType(kPlayerType), nullptr);
    EXPECT_EQ(graph->find(1), nullptr);
    EXPECT_TRUE(graph->keyMap.empty());
    EXPECT_TRUE(graph->pendingRemovals.empty());
    graph->flushRemovals();  // nothing left to delete twice
    EXPECT_EQ(deleteLog.size(), 2u);
}

}  // namespace
