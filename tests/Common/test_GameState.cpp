#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <ctime>

#include "Common/GameState.h"
#include "Common/ObjectTypes.h"
#include "Common/SceneGraph.h"

namespace {

void expectVec(const Vec3& v, float x, float y, float z, float tol = 1e-3f) {
    EXPECT_NEAR(v.x, x, tol);
    EXPECT_NEAR(v.y, y, tol);
    EXPECT_NEAR(v.z, z, tol);
}

// Random spawns step down from the upper face in hundredths: centre + size/2 - k/100.
void expectOnGrid(float value, float centre, float size) {
    const float steps = (centre + size / 2 - value) * 100.0f;
    const float whole = std::round(steps);
    EXPECT_NEAR(steps, whole, 0.05f) << value;
    EXPECT_GE(whole, 0.0f) << value;
    EXPECT_LE(whole, size * 100.0f - 1.0f) << value;
}

// The position the plane rule gives for the next three draws of rand().
Vec3 planeFromDraws(float cx, int r1, int r2, int r3) {
    return Vec3(cx + 0.5f - static_cast<float>(r1 % 100) / 100.0f,
                50.0f - static_cast<float>(r2 % 10000) / 100.0f,
                50.0f - static_cast<float>(r3 % 10000) / 100.0f);
}

Vec3 planeAfterSeeding(float cx, unsigned seed) {
    std::srand(seed);
    const int r1 = std::rand();
    const int r2 = std::rand();
    const int r3 = std::rand();
    return planeFromDraws(cx, r1, r2, r3);
}

bool sameVec(const Vec3& a, const Vec3& b) {
    return std::fabs(a.x - b.x) < 1e-3f && std::fabs(a.y - b.y) < 1e-3f &&
           std::fabs(a.z - b.z) < 1e-3f;
}

class GameStateTest : public ::testing::Test {
protected:
    void SetUp() override {
        state = GameState::getInstance();
        state->resetForTesting();
        SceneGraph::getInstance()->resetForTesting();
    }
    void TearDown() override {
        state->resetForTesting();
        SceneGraph::getInstance()->resetForTesting();
    }

    void addPlayers(int n) {
        for (int i = 0; i < n; ++i) {
            auto* p = new Transform(static_cast<std::uint64_t>(i + 1));
            p->objectType = kPlayerType;
            SceneGraph::getInstance()->add(p);
        }
    }

    GameState* state = nullptr;
};

TEST_F(GameStateTest, FreshStateUsesPointSpawns) {
    EXPECT_EQ(state, GameState::getInstance());
    EXPECT_EQ(state->spawnType, GameState::point);
    EXPECT_EQ(state->redTeamScore, 0);
    EXPECT_EQ(state->blueTeamScore, 0);
    EXPECT_FALSE(state->seeded);
    EXPECT_EQ(state->blueSpawnIndex, 0);
    EXPECT_EQ(state->redSpawnIndex, 1);
    expectVec(state->getBlueSpawnPosition(), -500, 0, 0, 0);
    expectVec(state->getRedSpawnPosition(), 500, 0, 0, 0);
}

TEST_F(GameStateTest, UnknownSpawnTypesActAsPoint) {
    for (std::int32_t type : {2, 3, 7, -1}) {
        state->spawnType = type;
        expectVec(state->getBlueSpawnPosition(), -500, 0, 0, 0);
        expectVec(state->getRedSpawnPosition(), 500, 0, 0, 0);
        EXPECT_EQ(state->blueSpawnIndex, 0);
        EXPECT_EQ(state->redSpawnIndex, 1);
    }
}

TEST_F(GameStateTest, PlaneSpawnsLieOnHundredthsInsideTheBox) {
    state->spawnType = GameState::plane;
    for (int i = 0; i < 300; ++i) {
        const Vec3 blue = state->getBlueSpawnPosition();
        EXPECT_GE(blue.x, -500.491f);
        EXPECT_LE(blue.x, -499.5f);
        expectOnGrid(blue.x, -500, 1);
        const Vec3 red = state->getRedSpawnPosition();
        EXPECT_GE(red.x, 499.509f);
        EXPECT_LE(red.x, 500.5f);
        expectOnGrid(red.x, 500, 1);
        for (float c : {blue.y, blue.z, red.y, red.z}) {
            EXPECT_GE(c, -49.991f);
            EXPECT_LE(c, 50.0f);
            expectOnGrid(c, 0, 100);
        }
    }
}

TEST_F(GameStateTest, PlaneSeedsFromTheClockOnlyOnce) {
    state->spawnType = GameState::plane;
    const auto before = static_cast<unsigned>(static_cast<std::uint64_t>(std::time(nullptr)));
    const Vec3 first = state->getBlueSpawnPosition();
    const auto after = static_cast<unsigned>(static_cast<std::uint64_t>(std::time(nullptr)));
    EXPECT_TRUE(state->seeded);
    EXPECT_TRUE(sameVec(first, planeAfterSeeding(-500, before)) ||
                sameVec(first, planeAfterSeeding(-500, after)));

    // Already seeded: the next spawn takes the next draws of whatever sequence is running.
    const Vec3 expected = planeAfterSeeding(500, 4242);
    std::srand(4242);
    const Vec3 second = state->getRedSpawnPosition();
    expectVec(second, expected.x, expected.y, expected.z);
}

TEST_F(GameStateTest, NonZeroSeedReseedsEveryTime) {
    const Vec3 centre(10, 20, 30), size(2, 4, 6);
    const Vec3 a = state->getSpawnPosition(centre, size, true, 99);
    std::rand();  // disturb the sequence; the seed puts it back
    const Vec3 b = state->getSpawnPosition(centre, size, true, 99);
    expectVec(a, b.x, b.y, b.z, 0);
    EXPECT_FALSE(state->seeded);

    std::srand(99);
    const int r1 = std::rand(), r2 = std::rand(), r3 = std::rand();
    expectVec(a, 11.0f - static_cast<float>(r1 % 200) / 100.0f,
              22.0f - static_cast<float>(r2 % 400) / 100.0f,
              33.0f - static_cast<float>(r3 % 600) / 100.0f);
}

TEST_F(GameStateTest, EvenWithoutPlayersHasOneCell) {
    state->spawnType = GameState::even;
    expectVec(state->getBlueSpawnPosition(), -250, -100, -100);
    EXPECT_EQ(state->blueSpawnIndex, 2);
    expectVec(state->getRedSpawnPosition(), -250, -100, -100);
    EXPECT_EQ(state->redSpawnIndex, 3);

    addPlayers(1);
    expectVec(state->getBlueSpawnPosition(), -250, -100, -100);
    expectVec(state->getRedSpawnPosition(), -250, -100, -100);
}

TEST_F(GameStateTest, EvenWithTwoToTenPlayersUsesThreeColumns) {
    for (int players : {2, 10}) {
        SetUp();
        state->spawnType = GameState::even;
        addPlayers(players);
        // Columns 500/3 apart from -250; blue takes cells 2, 4, ..., red 3, 5, ...
        expectVec(state->getBlueSpawnPosition(), 83.333f, -100, -100);   // cell 2
        expectVec(state->getRedSpawnPosition(), -250, -100, -100);       // 3 -> 0
        expectVec(state->getBlueSpawnPosition(), -83.333f, -100, -100);  // 4 -> 1
        expectVec(state->getRedSpawnPosition(), 83.333f, -100, -100);    // 5 -> 2
    }
}

TEST_F(GameStateTest, EvenWithElevenToNineteenPlayersUsesFiveColumns) {
    for (int players : {11, 19}) {
        SetUp();
        state->spawnType = GameState::even;
        addPlayers(players);
        expectVec(state->getBlueSpawnPosition(), -50, -100, -100);  // cell 2
        expectVec(state->getRedSpawnPosition(), 50, -100, -100);    // cell 3
        expectVec(state->getBlueSpawnPosition(), 150, -100, -100);  // cell 4
        expectVec(state->getRedSpawnPosition(), -250, -100, -100);  // 5 -> 0
    }
}

TEST_F(GameStateTest, EvenWithTwentyPlayersUsesThreeRowsAndTwoLayers) {
    state->spawnType = GameState::even;
    addPlayers(20);
    // 5 columns 100 apart, 3 rows 200/3 apart, 2 layers 100 apart: 30 cells.
    expectVec(state->getBlueSpawnPosition(), -50, -100, -100);  // cell 2
    state->redSpawnIndex = 5;
    expectVec(state->getRedSpawnPosition(), -50, -33.333f, -100);  // cell 7: row 1
    state->blueSpawnIndex = 15;
    expectVec(state->getBlueSpawnPosition(), -50, -100, 0);  // cell 17: layer 1
    state->redSpawnIndex = 27;
    expectVec(state->getRedSpawnPosition(), 150, 33.333f, 0);  // cell 29: the last
    state->redSpawnIndex = 29;
    expectVec(state->getRedSpawnPosition(), -150, -100, -100);  // 31 -> 1
}

TEST_F(GameStateTest, TeamIndicesAdvanceByTwo) {
    state->spawnType = GameState::even;
    for (int i = 1; i <= 3; ++i) {
        state->getBlueSpawnPosition();
        state->getRedSpawnPosition();
        EXPECT_EQ(state->blueSpawnIndex, 2 * i);
        EXPECT_EQ(state->redSpawnIndex, 2 * i + 1);
    }
    // Plane and point spawns leave them alone.
    state->spawnType = GameState::plane;
    state->getBlueSpawnPosition();
    state->spawnType = GameState::point;
    state->getRedSpawnPosition();
    EXPECT_EQ(state->blueSpawnIndex, 6);
    EXPECT_EQ(state->redSpawnIndex, 7);
}

}  // namespace
