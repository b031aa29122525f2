#pragma once

#include <cstdint>

#include "Common/CollisionObject.h"

// A shot: flies on the prediction and removes itself once its 20 seconds are over. The server
// sends nothing when a shot expires, so every client's copy ends by itself.
class Projectile : public CollisionObject {
public:
    explicit Projectile(std::uint64_t id);

    void draw() override;
    void update(float dt) override;

    float lifetime;
    bool blueTeam;
};
