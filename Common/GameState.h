#pragma once

#include <cstdint>

#include "Common/Vec3.h"

// Team scores and the rule by which players and carriers are placed. Main thread only.
// Blue's side is x = -500, red's x = +500.
class GameState {
public:
    enum SpawnType { plane = 0, even = 1, point = 2 };

    static GameState* getInstance();

    Vec3 getBlueSpawnPosition();
    Vec3 getRedSpawnPosition();
    // A random point of the box (random) or grid cell number seed of it.
    Vec3 getSpawnPosition(Vec3 centre, Vec3 size, bool random, int seed);

    std::int32_t redTeamScore;
    std::int32_t blueTeamScore;
    std::int32_t spawnType;
    bool seeded;
    std::int32_t blueSpawnIndex;
    std::int32_t redSpawnIndex;

    // Tests only: back to the initial values.
    void resetForTesting();

private:
    GameState();
};
