#pragma once
// Shared set-up for the server tests: fresh singletons, a driven message clock and decoding
// of what the outgoing queues hold.

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "Common/FrameCodec.h"
#include "Common/GameState.h"
#include "Common/NetworkEvent.h"
#include "Common/Protobuf/Object.pb.h"
#include "Common/SceneGraph.h"
#include "Common/Statistics.h"
#include "Server/ObjectFactory.h"
#include "Server/OutgoingQueues.h"
#include "Server/Player.h"
#include "Server/Projectile.h"
#include "Server/ServerClock.h"

namespace servertest {

inline std::uint64_t fakeNowMs = 1000;
inline std::uint64_t fakeClock() {
    return fakeNowMs;
}

inline void resetServerState() {
    OutgoingQueues::getInstance()->resetForTesting();
    SceneGraph::getInstance()->resetForTesting();
    GameState::getInstance()->resetForTesting();
    Statistics::getInstance()->resetForTesting();
    ObjectFactory::getInstance()->resetForTesting();
    fakeNowMs = 1000;
    setServerClock(&fakeClock);
}

// Every test starts from a server that has just started with server id 1.
class ServerWorldTest : public ::testing::Test {
protected:
    void SetUp() override { resetServerState(); }
    void TearDown() override {
        resetServerState();
        setServerClock(nullptr);
    }
};

// Decodes the frames of every buffer of a list, in order; each buffer must hold whole frames.
inline std::vector<NetworkEventPtr> decodeList(const OutgoingQueues::BufferList& list) {
    std::vector<NetworkEventPtr> events;
    for (const auto& buffer : list) {
        std::string leftover;
        bool malformed = false;
        auto frames = splitFrames(reinterpret_cast<const std::uint8_t*>(buffer->data()),
                                  buffer->size(), leftover, malformed);
        EXPECT_FALSE(malformed);
        EXPECT_TRUE(leftover.empty());
        events.insert(events.end(), frames.begin(), frames.end());
    }
    return events;
}

// The messages of one type in a list, in queue order.
template <class M>
std::vector<M> messagesIn(const OutgoingQueues::BufferList& list, MessageType type) {
    std::vector<M> out;
    for (const auto& event : decodeList(list)) {
        if (event->type == static_cast<int>(type)) {
            const auto* message = dynamic_cast<const M*>(event->message.get());
            EXPECT_NE(message, nullptr);
            if (message != nullptr) {
                out.push_back(*message);
            }
        }
    }
    return out;
}

inline std::vector<Morvik::ObjectInfo> ownInfos(Player* player) {
    auto& queues = OutgoingQueues::getInstance()->tcpQueues;
    const auto it = queues.find(player);
    if (it == queues.end()) {
        return {};
    }
    return messagesIn<Morvik::ObjectInfo>(it->second, MessageType::ObjectInfo);
}

inline std::vector<Morvik::ObjectDestroy> udpDestroys() {
    return messagesIn<Morvik::ObjectDestroy>(OutgoingQueues::getInstance()->udpBroadcast,
                                             MessageType::ObjectDestroy);
}

inline std::vector<Morvik::ObjectUpdate> udpUpdates() {
    return messagesIn<Morvik::ObjectUpdate>(OutgoingQueues::getInstance()->udpBroadcast,
                                            MessageType::ObjectUpdate);
}

// A new player of the next team, filed in the world as the joining code does.
inline Player* joinPlayer() {
    Player* player = ObjectFactory::getInstance()->createPlayer();
    SceneGraph::getInstance()->add(player);
    return player;
}

// A shot from owner, in the world, at position with velocity.
inline Projectile* addShot(Player* owner, const Vec3& position, const Vec3& velocity) {
    Projectile* shot = ObjectFactory::getInstance()->createProjectile();
    shot->ownerId = owner->id;
    shot->blueTeam = owner->blueTeam;
    shot->position = position;
    shot->velocity = velocity;
    SceneGraph::getInstance()->add(shot);
    return shot;
}

inline bool isPending(Transform* object) {
    const auto& pending = SceneGraph::getInstance()->pendingRemovals;
    for (Transform* each : pending) {
        if (each == object) {
            return true;
        }
    }
    return false;
}

}  // namespace servertest
