#pragma once

#include "Common/Transform.h"

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
    int shapeKind;  // 0 none, 1 sphere, 2 segment
};
