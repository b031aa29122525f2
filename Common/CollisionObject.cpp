// The build-independent parts of CollisionObject; its constructors are per build.

#include "Common/CollisionObject.h"

CollisionObject::~CollisionObject() {
    delete sphere;
    delete segment;
}

void CollisionObject::onCollision(CollisionObject* /*other*/) {}

void CollisionObject::init() {
    shapeKind = kNoShape;
    sphere = nullptr;
    segment = nullptr;
}
