#include "client/Window.h"

#include <GL/gl.h>
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <vector>

#include "GameTestSupport.h"
#include "client/Skybox.h"

namespace {

// Records what each key event showed it, including the key table at that moment.
struct RecordingListener : MVObject {
    struct Seen {
        SDLKey key;
        std::uint8_t type;
        bool tableSaysDown;
    };
    std::vector<Seen> seen;
    void onKey(SDL_KeyboardEvent event) override {
        seen.push_back({event.keysym.sym, event.type, window.isKeyDown(event.keysym.sym)});
    }
};

class WindowTest : public ::testing::Test {
protected:
    void SetUp() override {
        gametest::openWindow();
        gametest::resetInput();
    }
};

TEST_F(WindowTest, KeyTableIsUpdatedBeforeListenersAreTold) {
    RecordingListener listener;
    window.addListener(&listener);
    gametest::pushKey(SDLK_w, true);
    window.pollEvents();
    ASSERT_EQ(listener.seen.size(), 1u);
    EXPECT_EQ(listener.seen[0].key, SDLK_w);
    EXPECT_EQ(listener.seen[0].type, SDL_KEYDOWN);
    EXPECT_TRUE(listener.seen[0].tableSaysDown);
    EXPECT_TRUE(window.isKeyDown(SDLK_w));
    EXPECT_FALSE(window.isKeyDown(SDLK_s));
}

TEST_F(WindowTest, PressAndReleaseInOneFrameGiveTwoCallsAndLeaveTheKeyUp) {
    RecordingListener listener;
    window.addListener(&listener);
    gametest::pushKey(SDLK_SPACE, true);
    gametest::pushKey(SDLK_SPACE, false);
    window.pollEvents();
    ASSERT_EQ(listener.seen.size(), 2u);
    EXPECT_EQ(listener.seen[0].type, SDL_KEYDOWN);
    EXPECT_TRUE(listener.seen[0].tableSaysDown);
    EXPECT_EQ(listener.seen[1].type, SDL_KEYUP);
    EXPECT_FALSE(listener.seen[1].tableSaysDown);
    EXPECT_FALSE(window.isKeyDown(SDLK_SPACE));
}

TEST_F(WindowTest, ListenersAreToldInOrderAndOncePerRegistration) {
    RecordingListener first;
    RecordingListener second;
    window.addListener(&first);
    window.addListener(&second);
    window.addListener(&first);
    gametest::pushKey(SDLK_a, true);
    window.pollEvents();
    EXPECT_EQ(first.seen.size(), 2u);
    EXPECT_EQ(second.seen.size(), 1u);
}

TEST_F(WindowTest, CloseRequestEndsTheLoopAfterTheCurrentPass) {
    const int passes = gametest::passesUntilQuit(
        [] {
            gametest::pushQuit();
            window.pollEvents();
        },
        5);
    EXPECT_EQ(passes, 1);
}

TEST_F(WindowTest, OtherEventsDoNotEndTheLoop) {
    const int passes = gametest::passesUntilQuit(
        [] {
            gametest::pushKey(SDLK_x, true);
            window.pollEvents();
        },
        3);
    EXPECT_EQ(passes, 4);  // ended by the harness after its limit
}

TEST_F(WindowTest, MouseDeltaIsTheOffsetFromTheCentreAndRecentres) {
    ASSERT_TRUE(gametest::warpMouse(410, 293));
    Vec2 d = window.getMouseDelta();
    EXPECT_FLOAT_EQ(d.x, 10.0f);
    EXPECT_FLOAT_EQ(d.y, -7.0f);
    // The frame pumps SDL's events before its next call; by then the warp has arrived.
    for (int i = 0; i < 2000; ++i) {
        int x = 0;
        int y = 0;
        SDL_PumpEvents();
        SDL_GetMouseState(&x, &y);
        if (x == 400 && y == 300) {
            break;
        }
        SDL_Delay(1);
    }
    d = window.getMouseDelta();
    EXPECT_FLOAT_EQ(d.x, 0.0f);
    EXPECT_FLOAT_EQ(d.y, 0.0f);
}

TEST_F(WindowTest, MouseCentreOfAnOddSizeIsRoundedDown) {
    const int width = window.video.width;
    window.video.width = 801;  // centre 400 by integer division
    ASSERT_TRUE(gametest::warpMouse(400, 300));
    const Vec2 d = window.getMouseDelta();
    window.video.width = width;
    EXPECT_FLOAT_EQ(d.x, 0.0f);
    EXPECT_FLOAT_EQ(d.y, 0.0f);
}

TEST_F(WindowTest, VideoStateMatchesTheSettings) {
    EXPECT_EQ(window.video.width, 800);
    EXPECT_EQ(window.video.height, 600);
    ASSERT_NE(window.video.screen, nullptr);
    EXPECT_EQ(window.video.screen->w, 800);
    EXPECT_EQ(window.video.screen->h, 600);

    GLint viewport[4];
    glGetIntegerv(GL_VIEWPORT, viewport);
    EXPECT_EQ(viewport[2], 800);
    EXPECT_EQ(viewport[3], 600);

    // gluPerspective(60, 4/3, 1, 10000): f = 1 / tan(30 deg).
    GLfloat projection[16];
    glGetFloatv(GL_PROJECTION_MATRIX, projection);
    const float f = 1.0f / std::tan(30.0f * 3.14159265f / 180.0f);
    EXPECT_NEAR(projection[0], f / (4.0f / 3.0f), 1e-4);
    EXPECT_NEAR(projection[5], f, 1e-4);
    EXPECT_NEAR(projection[10], (10000.0f + 1.0f) / (1.0f - 10000.0f), 1e-4);
    EXPECT_NEAR(projection[14], 2.0f * 10000.0f * 1.0f / (1.0f - 10000.0f), 1e-3);

    GLint mode = 0;
    glGetIntegerv(GL_MATRIX_MODE, &mode);
    EXPECT_EQ(mode, GL_MODELVIEW);
    EXPECT_TRUE(glIsEnabled(GL_DEPTH_TEST));
    GLint depthFunc = 0;
    glGetIntegerv(GL_DEPTH_FUNC, &depthFunc);
    EXPECT_EQ(depthFunc, GL_LESS);
}

TEST_F(WindowTest, TwoDirectionalLightsFixedToTheViewer) {
    EXPECT_TRUE(glIsEnabled(GL_LIGHTING));
    EXPECT_TRUE(glIsEnabled(GL_COLOR_MATERIAL));
    EXPECT_TRUE(glIsEnabled(GL_LIGHT0));
    EXPECT_TRUE(glIsEnabled(GL_LIGHT1));
    GLfloat v[4];
    glGetFloatv(GL_LIGHT_MODEL_AMBIENT, v);
    EXPECT_FLOAT_EQ(v[0], 0.5f);
    EXPECT_FLOAT_EQ(v[3], 1.0f);
    glGetLightfv(GL_LIGHT0, GL_POSITION, v);  // eye coordinates
    EXPECT_FLOAT_EQ(v[0], -1.0f);
    EXPECT_FLOAT_EQ(v[1], 0.0f);
    EXPECT_FLOAT_EQ(v[3], 0.0f);  // directional
    glGetLightfv(GL_LIGHT0, GL_DIFFUSE, v);
    EXPECT_FLOAT_EQ(v[0], 1.0f);
    glGetLightfv(GL_LIGHT1, GL_POSITION, v);
    EXPECT_FLOAT_EQ(v[0], 0.0f);
    EXPECT_FLOAT_EQ(v[1], 1.0f);
    EXPECT_FLOAT_EQ(v[3], 0.0f);
    glGetLightfv(GL_LIGHT1, GL_DIFFUSE, v);
    EXPECT_FLOAT_EQ(v[0], 0.5f);
}

TEST_F(WindowTest, WithoutASkyboxNothingIsDrawn) {
    delete window.skybox;
    window.skybox = nullptr;
    glClearColor(0, 0, 0, 1);
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    glLoadIdentity();
    window.drawSkybox(Vec3(0, 0, 0));
    const std::vector<std::uint8_t> pixels = gametest::readPixels(0, 0, 800, 600);
    for (std::uint8_t p : pixels) {
        ASSERT_EQ(p, 0);
    }
}

// Start-up failures end the process with their own statuses and messages on standard error.
TEST(WindowDeathTest, SdlThatCannotStartEndsWithStatus1) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            setenv("SDL_VIDEODRIVER", "x11", 1);
            setenv("DISPLAY", ":65000", 1);  // no X server there
            Window w;
            w.init();
        },
        ::testing::ExitedWithCode(1), "Couldn't initialize SDL: ");
}

TEST(WindowDeathTest, VideoModeWithoutOpenGLEndsWithStatus2) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            setenv("SDL_VIDEODRIVER", "dummy", 1);  // starts, but has no OpenGL
            Window w;
            w.init();
        },
        ::testing::ExitedWithCode(2), "Couldn't set 800x600 OpenGL video mode: ");
}

}  // namespace
