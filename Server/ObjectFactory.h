#pragma once

#include <cstdint>

class CollisionObject;
class Player;
class Projectile;

// Hands out object ids (server id in the high word, a running counter in the low word) and
// the alternating team of new players. Main thread only.
class ObjectFactory {
public:
    static ObjectFactory* getInstance();

    // 0: a Player of the next team, 1: a Projectile (owner, team and motion are the caller's).
    // Not added to the world. Any other type: an error line and null.
    CollisionObject* createType(int type);
    Player* createPlayer();
    Projectile* createProjectile();

    std::int32_t serverId;
    std::uint32_t counter;  // the last low word handed out
    bool nextBlueTeam;

    // Tests only: back to the state after start-up with server id 1.
    void resetForTesting();

private:
    ObjectFactory();
};
