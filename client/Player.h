#pragma once

#include <cstdint>
#include <string>

#include "Common/CollisionObject.h"

namespace Morvik {
class PlayerData;
}

// A ship as the client shows it: position from the network-sample prediction, orientation
// smoothed toward the newest sample.
class Player : public CollisionObject {
public:
    Player(std::uint64_t id, bool blueTeam, std::int32_t health);

    void draw() override;
    void update(float dt) override;
    void applyNetworkState(std::uint32_t timestamp, const Vec3& position,
                           const Quaternion& orientation, bool first) override;

    // Copies the fields that data carries; the others keep their values.
    void applyPlayerData(const Morvik::PlayerData& data);

    std::string name;
    bool blueTeam;
    float health;
    std::int32_t score;
    // From shownOrientation to the newest sample, as it stood when that sample arrived.
    Quaternion catchUpRotation;
};
