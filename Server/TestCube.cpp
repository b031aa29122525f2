#include "Server/TestCube.h"

TestCube::TestCube(bool blueTeam) : CollisionObject(), blueTeam(blueTeam) {
    objectType = 3;
    if (shapeKind == 0) {
        shapeKind = 1;
        sphere = new SphereShape{&position, kRadius};
    }
}

void TestCube::draw() {}

void TestCube::update(float) {}

void TestCube::onCollision(CollisionObject*) {}
