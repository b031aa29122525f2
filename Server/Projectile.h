#pragma once

#include <cstdint>

#include "Common/CollisionObject.h"

// A shot: flies straight for at most 20 s; removed when it hits a player or the other team's
// carrier.
class Projectile : public CollisionObject {
public:
    static constexpr float kLifetime = 20.0f;
    static constexpr float kRadius = 1.0f;

    Projectile(int serverId, std::uint32_t counter);

    void draw() override;
    void update(float dt) override;
    void onCollision(CollisionObject* other) override;

    std::uint64_t ownerId;
    bool blueTeam;
    float lifetime;

private:
    void destroy();
};
