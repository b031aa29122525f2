#include "Server/TestCube.h"
#include "Common/ObjectTypes.h"

TestCube::TestCube(bool blueTeam) : CollisionObject(), blueTeam(blueTeam) {
    objectType = kCarrierType;
    if (shapeKind == kNoShape) {
        shapeKind = kSphereShape;
        sphere = new SphereShape{&position, kRadius};
    }
}

void TestCube::draw() {}

void TestCube::update(float) {}

void TestCube::onCollision(CollisionObject*) {}
