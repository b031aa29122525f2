// The parts of Transform that both programs share; the constructors, init() and update() are
// per build (client/ClientTransform.cpp, Server/ServerTransform.cpp).

#include "Common/Transform.h"

Transform::~Transform() = default;

void Transform::draw() {}

std::int64_t Transform::getKey() {
    return static_cast<std::int64_t>(reinterpret_cast<std::intptr_t>(this));
}

void* Transform::getConnectionKey() {
    return this;
}

void Transform::addNetworkSample(std::uint32_t timestamp, const Vec3& samplePosition,
                                 const Quaternion& sampleOrientation, bool first) {
    if (first) {
        for (int i = 0; i < 3; ++i) {
            sampleTimes[i] = timestamp;
            samplePositions[i] = samplePosition;
            sampleOrientations[i] = sampleOrientation;
        }
        shownPosition = samplePosition;
        previousSampleVelocity = sampleVelocity;
    } else {
        for (int i = 2; i > 0; --i) {
            sampleTimes[i] = sampleTimes[i - 1];
            samplePositions[i] = samplePositions[i - 1];
            sampleOrientations[i] = sampleOrientations[i - 1];
        }
        sampleTimes[0] = timestamp;
        samplePositions[0] = samplePosition;
        sampleOrientations[0] = sampleOrientation;

        previousSampleVelocity = sampleVelocity;
        if (sampleTimes[0] == sampleTimes[1]) {
            sampleVelocity = Vec3();
        } else {
            // Unsigned on purpose: a stale sample arriving late gives a huge span and so
            // a velocity near zero instead of a reversed one.
            const std::uint32_t span = sampleTimes[0] - sampleTimes[1];
            const float k = static_cast<float>(1000.0 / static_cast<double>(span));
            sampleVelocity = (samplePositions[0] - samplePositions[1]) * k;
        }
    }

    sampleAcceleration = sampleVelocity - previousSampleVelocity;
    sampleError = samplePositions[0] - shownPosition;

    if (sampleError.length() > 10.0f) {
        // Too far off to glide: jump there and start the history afresh.
        for (int i = 0; i < 3; ++i) {
            sampleTimes[i] = timestamp;
            samplePositions[i] = samplePosition;
            sampleOrientations[i] = sampleOrientation;
        }
        shownPosition = samplePosition;
        sampleVelocity = Vec3();
        previousSampleVelocity = Vec3();
        sampleError = Vec3();
    }

    blendStart = shownPosition;
    extrapolationVelocity = sampleVelocity;
    timeSinceSample = 0.0f;
}

void Transform::advancePrediction(float dt) {
    timeSinceSample += dt;
    extrapolationVelocity += sampleAcceleration * dt;
    if (timeSinceSample <= 0.5f) {
        const float u = timeSinceSample / 0.5f;
        // Where the newest sample will be half a second after it was taken.
        const Vec3 target = (blendStart + sampleError) + extrapolationVelocity * 0.5f;
        shownPosition = lerp(blendStart, target, u);
    } else {
        shownPosition += extrapolationVelocity * dt;
    }
}

void Transform::updateAll(float dt) {
    update(dt);
    // A list iterator survives appends, so children added during the walk are reached too.
    for (auto it = children.begin(); it != children.end(); ++it) {
        (*it)->updateAll(dt);
    }
}

void Transform::deleteChildren() {
    for (Transform* child : children) {
        child->deleteChildren();
        delete child;
    }
    children.clear();
}
