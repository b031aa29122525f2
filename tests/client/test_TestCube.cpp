#include "client/TestCube.h"

#include <gtest/gtest.h>

#include "ClientTestSupport.h"
#include "client/ResourceManager.h"

namespace {

class TestCubeTest : public ::testing::Test {
protected:
    void SetUp() override { clienttest::useNoResources(); }
};

TEST_F(TestCubeTest, IsACarrierOfItsTeamWithItsModelAndTexturePreloaded) {
    TestCube blue(0, true);
    EXPECT_EQ(blue.objectType, 3);
    EXPECT_EQ(blue.id, 0u);
    EXPECT_TRUE(blue.blueTeam);
    const ResourceManager* resources = ResourceManager::getInstance();
    EXPECT_EQ(resources->textures.count("carrier-texture-white.png"), 1u);
    EXPECT_EQ(resources->models.count("carrier.obj"), 1u);
}

TEST_F(TestCubeTest, NeverMovesAfterSetUp) {
    TestCube red(0, false);
    red.position = Vec3(500, 0, 0);
    red.applyNetworkState(1000, Vec3(0, 0, 0), Quaternion(), true);
    red.applyNetworkState(1100, Vec3(5, 0, 0), Quaternion(), false);
    red.update(0.5f);
    EXPECT_EQ(red.position.x, 500.0f);
    EXPECT_EQ(red.position.y, 0.0f);
    EXPECT_EQ(red.position.z, 0.0f);
}

}  // namespace
