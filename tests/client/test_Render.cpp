#include "client/Render.h"

#include <GL/gl.h>
#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <vector>

#include "ClientTestSupport.h"
#include "Common/Transform.h"
#include "client/Player.h"
#include "client/Projectile.h"
#include "client/TestCube.h"

using clienttest::Rgba;
using ::testing::internal::CaptureStdout;
using ::testing::internal::GetCapturedStdout;

namespace {

using Matrix = std::array<float, 16>;

Matrix currentModelView() {
    Matrix m{};
    glGetFloatv(GL_MODELVIEW_MATRIX, m.data());
    return m;
}

void expectMatrix(const Matrix& actual, const Matrix& expected) {
    for (std::size_t i = 0; i < 16; ++i) {
        EXPECT_NEAR(actual[i], expected[i], 1e-5f) << "element " << i;
    }
}

// Remembers the model-view matrix it was drawn with.
class Probe : public Transform {
public:
    Probe(std::uint64_t id, std::vector<Probe*>* order) : Transform(id), order(order) {}
    void draw() override {
        drawnWith = currentModelView();
        order->push_back(this);
    }
    Matrix drawnWith{};
    std::vector<Probe*>* order;
};

// ---- transforms ----

class RenderTest : public clienttest::GLTest {};

TEST_F(RenderTest, ScaleAppliesToTheTranslationToo) {
    Transform object(1);
    object.scale = Vec3(2, 2, 2);
    object.position = Vec3(1, 2, 3);
    const float half = 3.14159265f / 4;  // a quarter turn about z: x goes to y, y to -x
    object.orientation = Quaternion(std::cos(half), 0, 0, std::sin(half));

    applyGLTransform(&object);

    // Columns: images of x, y and z, then the translation, all scaled by 2.
    expectMatrix(currentModelView(), {0, 2, 0, 0, -2, 0, 0, 0, 0, 0, 2, 0, 2, 4, 6, 1});
}

TEST_F(RenderTest, ChildrenAreDrawnInsideTheirParentAfterIt) {
    std::vector<Probe*> order;
    Probe parent(1, &order);
    Probe first(2, &order);
    Probe second(3, &order);
    parent.position = Vec3(1, 0, 0);
    first.position = Vec3(0, 2, 0);
    second.position = Vec3(0, 0, 3);
    parent.children = {&first, &second};

    render(&parent);

    ASSERT_EQ(order, (std::vector<Probe*>{&parent, &first, &second}));
    EXPECT_FLOAT_EQ(parent.drawnWith[12], 1);
    EXPECT_FLOAT_EQ(first.drawnWith[12], 1);
    EXPECT_FLOAT_EQ(first.drawnWith[13], 2);
    EXPECT_FLOAT_EQ(second.drawnWith[13], 0);
    EXPECT_FLOAT_EQ(second.drawnWith[14], 3);
    EXPECT_EQ(modelViewDepth(), 1);
    expectMatrix(currentModelView(), {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1});
    parent.children.clear();
}

TEST_F(RenderTest, TranslateMovesThePosition) {
    Transform object(1);
    object.position = Vec3(1, 2, 3);
    translate(&object, Vec3(-500, 0, 0.5f));
    EXPECT_FLOAT_EQ(object.position.x, -499);
    EXPECT_FLOAT_EQ(object.position.y, 2);
    EXPECT_FLOAT_EQ(object.position.z, 3.5f);
}

// ---- the game objects' drawing ----

// Each model is one triangle over the lower-left half of the view once the object's own scale
// and offset are applied, so the pixel near the lower-left corner shows how it was drawn.
class DrawTest : public clienttest::GLTest {
protected:
    void SetUp() override {
        GLTest::SetUp();
        clienttest::resetResources(tree.resourcesPrefix());
        const std::vector<std::uint8_t> white(2 * 2 * 3, 255);
        tree.writeBytes("texture-white.png", clienttest::pngFile(2, 2, 2, white));
        tree.writeBytes("carrier-texture-white.png", clienttest::pngFile(2, 2, 2, white));
        // Scaled by 0.05 and 0.01 into the unit square.
        tree.writeText("fighter.obj", "v -20 -20 0\nv 20 -20 0\nv -20 20 0\nf 1 2 3\n");
        tree.writeText("shot.obj", "v -100 -100 0\nv 100 -100 0\nv -100 100 0\nf 1 2 3\n");
        // Moved by (0, -13, -130) into it.
        tree.writeText("carrier.obj", "v -1 12 130\nv 1 12 130\nv -1 14 130\nf 1 2 3\n");
        CaptureStdout();
    }
    void TearDown() override {
        GetCapturedStdout();
        clienttest::useNoResources();
        GLTest::TearDown();
    }

    static GLuint boundTexture() {
        GLint bound = 0;
        glGetIntegerv(GL_TEXTURE_BINDING_2D, &bound);
        return static_cast<GLuint>(bound);
    }

    clienttest::TempTree tree;
};

TEST_F(DrawTest, PlayerIsDrawnInItsTeamColourWithTheWhiteTexture) {
    Player blue(1, true, 100);  // preloads the texture, which turns texturing on
    ASSERT_TRUE(glIsEnabled(GL_TEXTURE_2D));
    blue.draw();

    EXPECT_EQ(pixelAt(4, 4), (Rgba{0, 0, 255, 255}));
    EXPECT_EQ(pixelAt(clienttest::kWindowWidth - 4, clienttest::kWindowHeight - 4),
              (Rgba{0, 0, 0, 255}));
    EXPECT_EQ(boundTexture(), ResourceManager::getInstance()->getTexture("texture-white.png"));
    EXPECT_EQ(currentColour(), (std::array<float, 4>{1, 1, 1, 1}));
    EXPECT_EQ(modelViewDepth(), 1);
}

TEST_F(DrawTest, ProjectileIsDrawnUntexturedAndKeepsItsColour) {
    // A black texture bound and enabled would blacken anything drawn textured.
    const std::vector<std::uint8_t> black(2 * 2 * 3, 0);
    tree.writeBytes("black.png", clienttest::pngFile(2, 2, 2, black));
    glBindTexture(GL_TEXTURE_2D, ResourceManager::getInstance()->getTexture("black.png"));
    ASSERT_TRUE(glIsEnabled(GL_TEXTURE_2D));

    Projectile red(2);
    red.draw();

    EXPECT_EQ(pixelAt(4, 4), (Rgba{255, 0, 0, 255}));
    EXPECT_TRUE(glIsEnabled(GL_TEXTURE_2D));
    EXPECT_EQ(currentColour(), (std::array<float, 4>{1, 0, 0, 1}));
    EXPECT_EQ(modelViewDepth(), 1);
}

TEST_F(DrawTest, CarrierIsDrawnOffsetInItsTeamColour) {
    TestCube red(0, false);
    red.draw();

    EXPECT_EQ(pixelAt(4, 4), (Rgba{255, 0, 0, 255}));
    EXPECT_EQ(boundTexture(),
              ResourceManager::getInstance()->getTexture("carrier-texture-white.png"));
    EXPECT_EQ(currentColour(), (std::array<float, 4>{1, 1, 1, 1}));
    EXPECT_EQ(modelViewDepth(), 1);
}

}  // namespace
