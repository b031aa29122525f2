#include "Common/GameState.h"

#include <cmath>
#include <cstdlib>
#include <ctime>

#include "Common/ObjectTypes.h"
#include "Common/SceneGraph.h"

namespace {
const Vec3 planeSize(1, 100, 100);
const Vec3 evenCentre(0, 0, 0);
const Vec3 evenSize(500, 200, 200);
}  // namespace

GameState* GameState::getInstance() {
    static GameState* instance = new GameState();
    return instance;
}

GameState::GameState() {
    resetForTesting();
}

void GameState::resetForTesting() {
    redTeamScore = 0;
    blueTeamScore = 0;
    spawnType = point;
    seeded = false;
    blueSpawnIndex = 0;
    redSpawnIndex = 1;
}

Vec3 GameState::getBlueSpawnPosition() {
    switch (spawnType) {
        case plane:
            return getSpawnPosition(Vec3(-500, 0, 0), planeSize, true, 0);
        case even:
            blueSpawnIndex += 2;
            return getSpawnPosition(evenCentre, evenSize, false, blueSpawnIndex);
        default:
            return Vec3(-500, 0, 0);
    }
}

Vec3 GameState::getRedSpawnPosition() {
    switch (spawnType) {
        case plane:
            return getSpawnPosition(Vec3(500, 0, 0), planeSize, true, 0);
        case even:
            redSpawnIndex += 2;
            return getSpawnPosition(evenCentre, evenSize, false, redSpawnIndex);
        default:
            return Vec3(500, 0, 0);
    }
}

namespace {

// One coordinate on a 0.01 grid: centre + size/2 down to centre - size/2 + 0.01.
float randomCoordinate(float centre, float size) {
    const float scale = 100.0f;
    const int r = std::rand();
    const int range = static_cast<int>(size * scale);
    if (range <= 0) {
        return centre;  // a box thinner than one step has only its centre
    }
    return centre - (static_cast<float>(r % range) - size * scale / 2) / scale;
}

}  // namespace

Vec3 GameState::getSpawnPosition(Vec3 centre, Vec3 size, bool random, int seed) {
    if (random) {
        if (seed != 0) {
            std::srand(static_cast<unsigned>(seed));
        } else if (!seeded) {
            std::srand(static_cast<unsigned>(static_cast<std::uint64_t>(std::time(nullptr))));
            seeded = true;
        }
        const float x = randomCoordinate(centre.x, size.x);
        const float y = randomCoordinate(centre.y, size.y);
        const float z = randomCoordinate(centre.z, size.z);
        return Vec3(x, y, z);
    }

    // The grid grows with the number of players in the world.
    const SceneGraph::ObjectList* players =
        SceneGraph::getInstance()->getObjectsOfType(kPlayerType);
    const float n = players != nullptr ? static_cast<float>(players->size()) : 0.0f;
    const float q = n / (size.y / size.x) / (size.z / size.x);
    int m = static_cast<int>(powf(q, 0.33333334f));
    int ny = static_cast<int>(static_cast<float>(m) * size.y / size.x);
    int nz = static_cast<int>(static_cast<float>(m) * size.z / size.x);
    if (m % 2 == 0) {
        m += 1;
    }
    if (ny % 2 == 0) {
        ny += 1;
    }
    if (nz == 0) {
        nz = 1;
    }

    const int cell = seed % (m * ny * nz);
    const int layer = cell / (m * ny);
    const int rest = cell - m * ny * layer;
    const int column = rest % m;
    const int row = rest / m;
    return Vec3(
        static_cast<float>(column) * (size.x / static_cast<float>(m)) - size.x / 2 + centre.x,
        static_cast<float>(row) * (size.y / static_cast<float>(ny)) - size.y / 2 + centre.y,
        static_cast<float>(layer) * (size.z / static_cast<float>(nz)) - size.z / 2 + centre.z);
}
