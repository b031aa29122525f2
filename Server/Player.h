#pragma once

#include <boost/asio/ip/udp.hpp>
#include <cstdint>
#include <memory>
#include <string>

#include "Common/CollisionObject.h"

class TcpConnection;

// One ship per connected client: its controls, thrust, firing, health and score.
class Player : public CollisionObject {
public:
    static constexpr float kMaxSpeed = 50.0f;
    static constexpr float kFireInterval = 0.5f;
    static constexpr float kShotSpeed = 100.0f;
    static constexpr float kFullHealth = 100.0f;
    static constexpr float kHitDamage = 42.42f;
    static constexpr float kRadius = 4.0f;

    Player(int serverId, std::uint32_t counter, bool blueTeam);

    void draw() override;
    // applyInput, then the send rule and the prediction step.
    void update(float dt) override;
    // The player key of udpEndpoint's address and qport.
    std::int64_t getKey() override;
    // The connection; null once the client has left.
    void* getConnectionKey() override;
    // Projectiles damage the ship; anything else does nothing.
    void onCollision(CollisionObject* other) override;

    // Thrust, speed limit, movement and firing from inputMask; clears inputMask.
    void applyInput(float dt);
    // The player's own status, to its own client only.
    void sendObjectInfo();
    // Full health at the team's spawn point; score and inputMask stay.
    void respawn(bool send);

    std::string name;
    bool blueTeam;
    float health;
    std::int32_t score;
    std::uint16_t qport;
    boost::asio::ip::udp::endpoint udpEndpoint;
    std::shared_ptr<TcpConnection> connection;
    std::uint32_t inputMask;  // the bits of Common/Controls.h
    float fireTimer;

private:
    void init();
    void fire();
};
