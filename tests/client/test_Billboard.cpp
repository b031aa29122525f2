#include "client/Billboard.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>

#include "ClientTestSupport.h"
#include "Common/SceneGraph.h"
#include "client/MVEntryPoint.h"
#include "client/ObjectFactory.h"

using clienttest::Rgba;
using ::testing::internal::CaptureStdout;
using ::testing::internal::GetCapturedStdout;

namespace {

class BillboardTest : public ::testing::Test {
protected:
    void SetUp() override {
        clienttest::useNoResources();
        scene = SceneGraph::getInstance();
        scene->resetForTesting();
        savedCamera = MVEntryPoint::getInstance()->camera.orientation;
    }
    void TearDown() override {
        scene->resetForTesting();
        MVEntryPoint::getInstance()->camera.orientation = savedCamera;
    }

    bool queuedForRemoval(Transform* object) const {
        return std::find(scene->pendingRemovals.begin(), scene->pendingRemovals.end(), object) !=
               scene->pendingRemovals.end();
    }

    SceneGraph* scene = nullptr;
    Quaternion savedCamera;
};

TEST_F(BillboardTest, FacesTheCameraAsItStoodWhenMade) {
    const float half = 0.3f;
    const Quaternion turned(std::cos(half), 0, std::sin(half), 0);
    MVEntryPoint::getInstance()->camera.orientation = turned;
    Billboard explosion(2);
    MVEntryPoint::getInstance()->camera.orientation = Quaternion();

    EXPECT_EQ(explosion.objectType, 2);
    EXPECT_EQ(explosion.orientation.w, turned.w);
    EXPECT_EQ(explosion.orientation.y, turned.y);
}

TEST_F(BillboardTest, LastsOneSecondAndStaysWhereItWasPlaced) {
    auto* explosion = new Billboard(2);
    explosion->position = Vec3(4, 5, 6);
    scene->add(explosion);

    explosion->update(0.5f);
    explosion->update(0.5f);
    EXPECT_EQ(explosion->lifetime, 0.0f);
    EXPECT_FALSE(queuedForRemoval(explosion));
    EXPECT_EQ(explosion->position.x, 4.0f);
    EXPECT_EQ(explosion->position.y, 5.0f);
    EXPECT_EQ(explosion->position.z, 6.0f);

    explosion->update(0.01f);
    EXPECT_TRUE(queuedForRemoval(explosion));
    scene->flushRemovals();
    EXPECT_EQ(scene->find(2), nullptr);
}

// ---- the client's factory ----

TEST_F(BillboardTest, FactoryNumbersExplosionsFromItsCounter) {
    ObjectFactory* factory = ObjectFactory::getInstance();
    const std::int32_t before = factory->counter;

    Transform* first = factory->createType(2);
    Transform* second = factory->createType(2);
    ASSERT_NE(first, nullptr);
    ASSERT_NE(second, nullptr);
    EXPECT_EQ(first->objectType, 2);
    EXPECT_EQ(first->id, static_cast<std::uint64_t>(before + 1));
    EXPECT_EQ(second->id, static_cast<std::uint64_t>(before + 2));

    factory->addToScene(first);
    factory->addToScene(second);
    EXPECT_EQ(scene->find(first->id), first);
    EXPECT_EQ(first->parent, scene);
}

TEST_F(BillboardTest, FactoryMakesNothingButExplosions) {
    ObjectFactory* factory = ObjectFactory::getInstance();
    const std::int32_t before = factory->counter;

    CaptureStdout();
    Transform* player = factory->createType(0);
    Transform* shot = factory->createType(1);
    const std::string output = GetCapturedStdout();

    EXPECT_EQ(player, nullptr);
    EXPECT_EQ(shot, nullptr);
    EXPECT_EQ(output, "Error creating type of 0Error creating type of 1");
    EXPECT_EQ(factory->counter, before);
}

// ---- drawing ----

class BillboardDrawTest : public clienttest::GLTest {
protected:
    void SetUp() override {
        GLTest::SetUp();
        clienttest::resetResources(tree.resourcesPrefix());
        const std::vector<std::uint8_t> green{0, 255, 0, 0, 255, 0, 0, 255, 0, 0, 255, 0};
        tree.writeBytes("BOOOM.png", clienttest::pngFile(2, 2, 2, green));
        CaptureStdout();
    }
    void TearDown() override {
        GetCapturedStdout();
        clienttest::useNoResources();
        GLTest::TearDown();
    }

    clienttest::TempTree tree;
};

TEST_F(BillboardDrawTest, ExplosionIsATenUnitSquareCentredOnItsOrigin) {
    glMatrixMode(GL_PROJECTION);
    glOrtho(-10, 10, -10, 10, -1, 1);  // the square fills the middle half of the window
    glMatrixMode(GL_MODELVIEW);
    Billboard explosion(2);
    ResourceManager::getInstance()->preloadTexture("BOOOM.png");
    explosion.draw();

    const int w = clienttest::kWindowWidth;
    const int h = clienttest::kWindowHeight;
    EXPECT_EQ(pixelAt(w / 2, h / 2), (Rgba{0, 255, 0, 255}));
    EXPECT_EQ(pixelAt(w / 4 + 2, h / 4 + 2), (Rgba{0, 255, 0, 255}));
    EXPECT_EQ(pixelAt(3 * w / 4 - 2, 3 * h / 4 - 2), (Rgba{0, 255, 0, 255}));
    EXPECT_EQ(pixelAt(w / 4 - 2, h / 2), (Rgba{0, 0, 0, 255}));
    EXPECT_EQ(pixelAt(3 * w / 4 + 2, h / 2), (Rgba{0, 0, 0, 255}));
    EXPECT_EQ(modelViewDepth(), 1);
}

}  // namespace
