// The server build's part of Transform and CollisionObject: ids made from the server id and
// the factory counter, the send state, and the send rule in update().
#include "Common/CollisionObject.h"
#include "Common/MessageConversions.h"
#include "Common/ObjectTypes.h"
#include "Common/Protobuf/Object.pb.h"
#include "Common/Transform.h"
#include "Server/Distance.h"
#include "Server/OutgoingQueues.h"
#include "Server/ServerClock.h"

namespace {

std::uint64_t makeObjectId(int serverId, std::uint32_t counter) {
    return (std::uint64_t{static_cast<std::uint32_t>(serverId)} << 32) | counter;
}

}  // namespace

Transform::Transform() : Transform(0, 0) {}

Transform::Transform(int serverId, std::uint32_t counter)
    : objectType(kNoType),
      parent(nullptr),
      id(makeObjectId(serverId, counter)),
      scale(1, 1, 1),
      timeSinceSample(0),
      timeSinceSend(0),
      networked(true),
      teleport(true),
      sampleTimes{0, 0, 0} {
    init();
}

void Transform::init() {
    parent = nullptr;
    children.clear();
    scale = Vec3(1, 1, 1);
    timeSinceSample = 0;
    timeSinceSend = 0;
    objectType = kNoType;
    networked = true;
    teleport = true;
}

void Transform::update(float dt) {
    if (networked && id != 0) {
        timeSinceSend += dt;
        // shownPosition is where the clients show the object now, before this step moves it.
        if (distance(position, shownPosition) > 1.0f || timeSinceSend > 1.0f) {
            sendUpdate();
            timeSinceSend = 0;
        }
    }
    advancePrediction(dt);
}

void Transform::sendUpdate() {
    Morvik::ObjectUpdate update;
    update.set_id(id);
    setOrientation(update.mutable_orientation(), orientation);
    setPosition(update.mutable_position(), position);
    OutgoingQueues::getInstance()->broadcastObjectUpdate(update);
    // Run the same prediction the clients will run once this update reaches them.
    addNetworkSample(serverClock(), position, orientation, teleport);
    teleport = false;
}

CollisionObject::CollisionObject(int serverId, std::uint32_t counter)
    : Transform(serverId, counter), sphere(nullptr), segment(nullptr), shapeKind(kNoShape) {
    init();
}

CollisionObject::CollisionObject()
    : Transform(), sphere(nullptr), segment(nullptr), shapeKind(kNoShape) {
    init();
}
