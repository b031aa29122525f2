// The client build's constructors and update of the world core: the client only predicts.

#include "Common/CollisionObject.h"
#include "Common/ObjectTypes.h"
#include "Common/Transform.h"

Transform::Transform() : Transform(std::uint64_t{0}) {}

Transform::Transform(std::uint64_t objectId) : id(objectId), sampleTimes{0, 0, 0} {
    init();
}

void Transform::init() {
    parent = nullptr;
    children.clear();
    scale = Vec3(1, 1, 1);
    objectType = kNoType;
    timeSinceSample = 0.0f;
}

void Transform::update(float dt) {
    advancePrediction(dt);
}

void Transform::applyNetworkState(std::uint32_t timestamp, const Vec3& samplePosition,
                                  const Quaternion& sampleOrientation, bool first) {
    addNetworkSample(timestamp, samplePosition, sampleOrientation, first);
}

CollisionObject::CollisionObject(std::uint64_t objectId) : Transform(objectId) {
    init();
}
