#include "client/Camera.h"

#include <GL/gl.h>
#include <gtest/gtest.h>

#include <cmath>

#include "GameTestSupport.h"

namespace {

constexpr float kTol = 1e-5f;

void expectVec(const Vec3& v, float x, float y, float z, float tol = kTol) {
    EXPECT_NEAR(v.x, x, tol);
    EXPECT_NEAR(v.y, y, tol);
    EXPECT_NEAR(v.z, z, tol);
}

// The model-view matrix that apply() leaves, read back from OpenGL (column-major).
void applyAndRead(Camera& camera, GLfloat (&m)[16]) {
    glMatrixMode(GL_MODELVIEW);
    glLoadIdentity();
    camera.apply();
    glGetFloatv(GL_MODELVIEW_MATRIX, m);
}

class CameraTest : public ::testing::Test {
protected:
    void SetUp() override { gametest::openWindow(); }
};

TEST_F(CameraTest, FreshCameraLooksDownPlusZWithUpY) {
    Camera camera;
    GLfloat m[16];
    applyAndRead(camera, m);
    // gluLookAt from the origin towards +z, up +y: side = forward x up = -x, so the view
    // turns x -> -x, y -> y, z -> -z.
    const float expected[16] = {-1, 0, 0, 0, 0, 1, 0, 0, 0, 0, -1, 0, 0, 0, 0, 1};
    for (int i = 0; i < 16; ++i) {
        EXPECT_NEAR(m[i], expected[i], kTol) << i;
    }
}

TEST_F(CameraTest, ApplyReturnsTheEyeAndTranslatesTheView) {
    Camera camera;
    camera.setPosition(1, 2, 3);
    GLfloat m[16];
    glLoadIdentity();
    const Vec3 eye = camera.apply();
    glGetFloatv(GL_MODELVIEW_MATRIX, m);
    expectVec(eye, 1, 2, 3);
    // Translation column = -(R p) with R = diag(-1, 1, -1).
    EXPECT_NEAR(m[12], 1, kTol);
    EXPECT_NEAR(m[13], -2, kTol);
    EXPECT_NEAR(m[14], 3, kTol);
}

TEST_F(CameraTest, YawTurnsForwardAboutUp) {
    Camera camera;
    const float a = -0.05f;
    camera.yaw(a);
    glLoadIdentity();
    camera.apply();
    // About +y by a: +z goes to (sin a, 0, cos a).
    expectVec(camera.forward, std::sin(a), 0, std::cos(a));
    expectVec(camera.up, 0, 1, 0);
    // The orientation is that same rotation: (cos a/2, 0, sin a/2, 0).
    const Quaternion* q = camera.getOrientation();
    EXPECT_NEAR(q->w, std::cos(a / 2), kTol);
    EXPECT_NEAR(q->y, std::sin(a / 2), kTol);
    EXPECT_NEAR(q->x, 0, kTol);
    EXPECT_NEAR(q->z, 0, kTol);
}

TEST_F(CameraTest, PitchTurnsAboutForwardCrossUp) {
    Camera camera;
    const float a = -0.05f;
    camera.pitch(a);
    glLoadIdentity();
    camera.apply();
    // forward x up = (0,0,1) x (0,1,0) = (-1,0,0); about -x by a is about +x by -a:
    // +z goes to (0, sin a, cos a), +y to (0, cos a, -sin a).
    expectVec(camera.forward, 0, std::sin(a), std::cos(a));
    expectVec(camera.up, 0, std::cos(a), -std::sin(a));
}

TEST_F(CameraTest, RollTurnsUpAboutForward) {
    Camera camera;
    const float a = 0.5f;
    camera.roll(a);
    glLoadIdentity();
    camera.apply();
    // About +z by a: +y goes to (-sin a, cos a, 0); forward stays.
    expectVec(camera.up, -std::sin(a), std::cos(a), 0);
    expectVec(camera.forward, 0, 0, 1);
}

TEST_F(CameraTest, RotationsOfOneFrameUseTheLastApplysAxesAndComposeOnTheRight) {
    const float quarter = 3.14159265f / 2;
    // One frame: yaw a quarter turn, then pitch 0.3 about the unturned camera's forward x up,
    // -x. Composed on the right, that is the same turn as yawing, applying, and pitching about
    // the turned camera's axis, (1,0,0) x (0,1,0) = +z.
    Camera together;
    together.yaw(quarter);
    together.pitch(0.3f);
    glLoadIdentity();
    together.apply();

    Camera apart;
    apart.yaw(quarter);
    glLoadIdentity();
    apart.apply();
    expectVec(apart.forward, 1, 0, 0);
    apart.pitch(0.3f);
    glLoadIdentity();
    apart.apply();

    // About +z by 0.3: (1,0,0) -> (cos, sin, 0) and (0,1,0) -> (-sin, cos, 0).
    expectVec(apart.forward, std::cos(0.3f), std::sin(0.3f), 0, 1e-4f);
    expectVec(apart.up, -std::sin(0.3f), std::cos(0.3f), 0, 1e-4f);
    expectVec(together.forward, std::cos(0.3f), std::sin(0.3f), 0, 1e-4f);
    expectVec(together.up, -std::sin(0.3f), std::cos(0.3f), 0, 1e-4f);
}

TEST_F(CameraTest, ApplyEmptiesThePendingRotationAndComposesOnTheLeft) {
    Camera camera;
    camera.yaw(0.2f);
    glLoadIdentity();
    camera.apply();
    const Quaternion first = *camera.getOrientation();
    EXPECT_NEAR(camera.pendingRotation.w, 1, kTol);
    camera.roll(0.4f);  // about the turned forward
    const Quaternion pending = camera.pendingRotation;
    glLoadIdentity();
    camera.apply();
    const Quaternion expected = pending * first;
    const Quaternion* got = camera.getOrientation();
    EXPECT_NEAR(got->w, expected.w, kTol);
    EXPECT_NEAR(got->x, expected.x, kTol);
    EXPECT_NEAR(got->y, expected.y, kTol);
    EXPECT_NEAR(got->z, expected.z, kTol);
    // A second apply without new rotations changes nothing.
    glLoadIdentity();
    camera.apply();
    EXPECT_NEAR(camera.getOrientation()->w, expected.w, kTol);
    EXPECT_NEAR(camera.getOrientation()->z, expected.z, kTol);
}

}  // namespace
