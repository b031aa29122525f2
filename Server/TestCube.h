#pragma once

#include "Common/CollisionObject.h"

// A team carrier: a fixed target with id 0 that stops the other team's shots.
class TestCube : public CollisionObject {
public:
    static constexpr float kRadius = 40.0f;

    explicit TestCube(bool blueTeam);

    void draw() override;
    // Carriers never move and are never announced.
    void update(float dt) override;
    void onCollision(CollisionObject* other) override;

    bool blueTeam;
};
