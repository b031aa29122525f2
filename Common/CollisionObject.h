#pragma once

#include "Common/Transform.h"

// What shapeKind says an object collides as.
constexpr int kNoShape = 0;
constexpr int kSphereShape = 1;
constexpr int kSegmentShape = 2;

struct SphereShape {
    Vec3* centre;
    float radius;
};

struct SegmentShape {
    Vec3* start;
    Vec3* direction;
};

// A Transform with collision shapes; only the server builds and tests them.
class CollisionObject : public Transform {
public:
#ifndef MORVIK_SERVER_BUILD
    explicit CollisionObject(std::uint64_t id);
#else
    CollisionObject(int serverId, std::uint32_t counter);
    CollisionObject();
#endif
    ~CollisionObject() override;

    virtual void onCollision(CollisionObject* other);

    void init();

    SphereShape* sphere;
    SegmentShape* segment;
    Vec3 localDirection;
    int shapeKind;  // kNoShape, kSphereShape or kSegmentShape
};
