#pragma once

#include <cstdint>

#include "Common/CollisionObject.h"

// A team carrier, placed by the client itself at start-up; it never moves.
class TestCube : public CollisionObject {
public:
    TestCube(std::uint64_t id, bool blueTeam);

    void draw() override;
    void update(float dt) override;

    bool blueTeam;
};
