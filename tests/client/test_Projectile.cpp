#include "client/Projectile.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "ClientTestSupport.h"
#include "Common/SceneGraph.h"

namespace {

class ProjectileTest : public ::testing::Test {
protected:
    void SetUp() override {
        clienttest::useNoResources();
        scene = SceneGraph::getInstance();
        scene->resetForTesting();
    }
    void TearDown() override { scene->resetForTesting(); }

    bool queuedForRemoval(Transform* object) const {
        return std::find(scene->pendingRemovals.begin(), scene->pendingRemovals.end(), object) !=
               scene->pendingRemovals.end();
    }

    SceneGraph* scene = nullptr;
};

TEST_F(ProjectileTest, StartsWithTwentySecondsOfLife) {
    Projectile shot(5);
    EXPECT_EQ(shot.objectType, 1);
    EXPECT_EQ(shot.lifetime, 20.0f);
    EXPECT_FALSE(shot.blueTeam);
}

TEST_F(ProjectileTest, IsRemovedInTheFirstFrameBelowZeroNotAtZero) {
    auto* shot = new Projectile(0x100000009ull);
    shot->applyNetworkState(1000, Vec3(), Quaternion(), true);
    scene->add(shot);

    shot->update(10.0f);
    shot->update(10.0f);
    EXPECT_EQ(shot->lifetime, 0.0f);
    EXPECT_FALSE(queuedForRemoval(shot));
    scene->flushRemovals();
    ASSERT_EQ(scene->find(0x100000009ull), shot);

    shot->update(0.001f);
    EXPECT_TRUE(queuedForRemoval(shot));
    scene->flushRemovals();
    EXPECT_EQ(scene->find(0x100000009ull), nullptr);
}

TEST_F(ProjectileTest, FliesOnItsSampleVelocity) {
    Projectile shot(5);
    shot.sampleVelocity = Vec3(2, 0, 0);  // as the creator sets it, before the first sample
    shot.applyNetworkState(1000, Vec3(1, 1, 1), Quaternion(), true);

    // Half a second of blending reaches the sample run half a second ahead: (1,1,1) + 0.5 v.
    shot.update(0.5f);
    EXPECT_FLOAT_EQ(shot.position.x, 2.0f);
    EXPECT_FLOAT_EQ(shot.position.y, 1.0f);
    EXPECT_FLOAT_EQ(shot.position.z, 1.0f);
    // Then dead reckoning.
    shot.update(0.5f);
    EXPECT_FLOAT_EQ(shot.position.x, 3.0f);
}

}  // namespace
