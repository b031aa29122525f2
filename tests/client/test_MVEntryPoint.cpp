#include "client/MVEntryPoint.h"

#include <GL/gl.h>
#include <GL/glu.h>
#include <gtest/gtest.h>

#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/udp.hpp>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <thread>
#include <vector>

#include "Common/Controls.h"
#include "Common/GameState.h"
#include "Common/ObjectTypes.h"
#include "Common/Protobuf/Object.pb.h"
#include "Common/SceneGraph.h"
#include "GameTestSupport.h"
#include "client/HudPass.h"
#include "client/Player.h"
#include "client/ResourceManager.h"
#include "client/Sender.h"
#include "client/TestCube.h"
#include "tools/testkit/MonotonicClock.h"

namespace {

using boost::asio::ip::udp;

// The real Sender wired to a UDP socket on 127.0.0.1, sending to a socket of the test's. The
// Sender hands each datagram to its socket's event loop; the test runs that loop itself, so a
// sent update is in the receiving socket by the time poll() returns.
class SenderWire {
public:
    SenderWire()
        : clientSocket(io, udp::endpoint(boost::asio::ip::address_v4::loopback(), 0)),
          serverSocket(io, udp::endpoint(boost::asio::ip::address_v4::loopback(), 0)),
          serverEndpoint(serverSocket.local_endpoint()) {
        Sender::getInstance()->setUdpSocket(&clientSocket);
        Sender::getInstance()->setServerEndpoint(&serverEndpoint);
        Sender::getInstance()->setQport(0x1234);
    }
    ~SenderWire() {
        received();  // sends still queued on the loop would take their datagrams with them
        Sender::getInstance()->setUdpSocket(nullptr);
        Sender::getInstance()->setServerEndpoint(nullptr);
        Sender::getInstance()->setQport(0);
    }

    // Every update sent since the last call, decoded.
    std::vector<Morvik::ClientUpdate> received() {
        io.restart();
        io.poll();
        std::vector<Morvik::ClientUpdate> updates;
        while (serverSocket.available() > 0) {
            unsigned char buffer[1500];
            udp::endpoint from;
            const std::size_t n = serverSocket.receive_from(boost::asio::buffer(buffer), from);
            // qport (u16 LE), then one frame: u16 LE length of type byte plus message, type.
            EXPECT_GE(n, 5u);
            EXPECT_EQ(buffer[0] | (buffer[1] << 8), 0x1234);
            const std::size_t length = buffer[2] | (buffer[3] << 8);
            EXPECT_EQ(length + 4, n);
            EXPECT_EQ(buffer[4], 4);  // ClientUpdate
            Morvik::ClientUpdate update;
            EXPECT_TRUE(update.ParseFromArray(buffer + 5, static_cast<int>(n - 5)));
            updates.push_back(update);
        }
        return updates;
    }

    boost::asio::io_context io;
    udp::socket clientSocket;
    udp::socket serverSocket;
    udp::endpoint serverEndpoint;
};

class MVEntryPointTest : public ::testing::Test {
protected:
    void SetUp() override {
        gametest::openWindow();
        gametest::resetInput();
        gametest::useGameResources();
        controller = MVEntryPoint::getInstance();
        controller->camera = Camera();
        controller->sendAccumulator = 0.0f;
    }
    void TearDown() override {
        gametest::resetInput();
        SceneGraph::getInstance()->resetForTesting();
        GameState::getInstance()->resetForTesting();
    }

    void hold(SDLKey key) {
        gametest::pushKey(key, true);
        window.pollEvents();
    }

    void frame(float dt) {
        controller->update(dt);
        glLoadIdentity();
        controller->applyCamera();
    }

    MVEntryPoint* controller = nullptr;
    SenderWire wire;
};

// ---- the send accumulator ----

TEST_F(MVEntryPointTest, FramesOfTwentyMsSendOnTheThirdAndSixthFrame) {
    std::vector<std::size_t> perFrame;
    for (int i = 0; i < 7; ++i) {
        frame(0.02f);
        perFrame.push_back(wire.received().size());
    }
    // 0.06 s after three frames; the 0.01 beyond 0.05 is dropped, so not again until the sixth.
    EXPECT_EQ(perFrame, (std::vector<std::size_t>{0, 0, 1, 0, 0, 1, 0}));
}

TEST_F(MVEntryPointTest, OneLongFrameSendsExactlyOne) {
    frame(0.5f);
    EXPECT_EQ(wire.received().size(), 1u);
    frame(0.01f);
    EXPECT_EQ(wire.received().size(), 0u);
    frame(0.05f);  // 0.06 >= 0.05
    EXPECT_EQ(wire.received().size(), 1u);
}

TEST_F(MVEntryPointTest, UnwiredSenderDropsTheUpdateAndTheAccumulatorStillResets) {
    Sender::getInstance()->setUdpSocket(nullptr);
    frame(0.06f);
    EXPECT_FLOAT_EQ(controller->sendAccumulator, 0.0f);
    Sender::getInstance()->setUdpSocket(&wire.clientSocket);
    EXPECT_EQ(wire.received().size(), 0u);
}

// ---- boostersOn ----

TEST_F(MVEntryPointTest, NothingHeldSendsZero) {
    frame(0.05f);
    const auto updates = wire.received();
    ASSERT_EQ(updates.size(), 1u);
    EXPECT_EQ(updates[0].boosterson(), 0u);
}

TEST_F(MVEntryPointTest, EachKeyAddsItsOwnControl) {
    // The pilot's keys: W and S forward and back, D and A right and left, Space and C up and
    // down.
    const struct {
        SDLKey key;
        std::uint32_t bit;
    } keys[] = {{SDLK_w, controls::kForward}, {SDLK_s, controls::kBack},
                {SDLK_d, controls::kRight},   {SDLK_a, controls::kLeft},
                {SDLK_SPACE, controls::kUp},  {SDLK_c, controls::kDown}};
    for (const auto& control : keys) {
        hold(control.key);
        frame(0.05f);
        gametest::pushKey(control.key, false);
        window.pollEvents();
        const auto updates = wire.received();
        ASSERT_EQ(updates.size(), 1u);
        EXPECT_EQ(updates[0].boosterson(), control.bit) << "key " << control.key;
    }
    hold(SDLK_e);  // roll: no bit
    frame(0.05f);
    EXPECT_EQ(wire.received().at(0).boosterson(), 0u);
}

TEST_F(MVEntryPointTest, ForwardBoostAndLeftButtonTogether) {
    hold(SDLK_w);
    hold(SDLK_SPACE);
    // The button goes through the X server, as a player's would.
    window.getMouseDelta();  // pointer over the window's centre
    ASSERT_EQ(std::system("xdotool mousedown 1"), 0);
    waitUntil(
        [&] {
            window.pollEvents();
            return window.isMouseButtonDown();
        },
        std::chrono::seconds(5));
    frame(0.05f);
    std::system("xdotool mouseup 1");
    waitUntil(
        [&] {
            window.pollEvents();
            return !window.isMouseButtonDown();
        },
        std::chrono::seconds(1));
    const auto updates = wire.received();
    ASSERT_EQ(updates.size(), 1u);
    EXPECT_EQ(updates[0].boosterson(), controls::kForward | controls::kUp | controls::kFire);
}

// ---- mouse look and roll ----

TEST_F(MVEntryPointTest, MouseRightYawsNegativelyAboutUp) {
    ASSERT_TRUE(gametest::warpMouse(410, 300));  // (10, 0) from the centre
    controller->mouseLook();
    glLoadIdentity();
    controller->applyCamera();
    const float a = 10 * -0.005f;
    EXPECT_NEAR(controller->camera.forward.x, std::sin(a), 1e-5);
    EXPECT_NEAR(controller->camera.forward.y, 0, 1e-5);
    EXPECT_NEAR(controller->camera.forward.z, std::cos(a), 1e-5);
    EXPECT_NEAR(controller->camera.getOrientation()->y, std::sin(a / 2), 1e-5);
}

TEST_F(MVEntryPointTest, MouseDownPitchesNegativelyAboutForwardCrossUp) {
    ASSERT_TRUE(gametest::warpMouse(400, 310));  // (0, 10): y grows downwards
    controller->mouseLook();
    glLoadIdentity();
    controller->applyCamera();
    // About forward x up = -x by -0.05, i.e. about +x by +0.05: +z -> (0, -sin, cos).
    EXPECT_NEAR(controller->camera.forward.x, 0, 1e-5);
    EXPECT_NEAR(controller->camera.forward.y, -std::sin(0.05f), 1e-5);
    EXPECT_NEAR(controller->camera.forward.z, std::cos(0.05f), 1e-5);
}

TEST_F(MVEntryPointTest, HoldingEForHalfASecondRollsHalfARadian) {
    hold(SDLK_e);
    for (int i = 0; i < 25; ++i) {
        frame(0.02f);
    }
    // About forward (+z) by 0.5: up (0,1,0) -> (-sin 0.5, cos 0.5, 0).
    EXPECT_NEAR(controller->camera.up.x, -std::sin(0.5f), 1e-4);
    EXPECT_NEAR(controller->camera.up.y, std::cos(0.5f), 1e-4);
    EXPECT_NEAR(controller->camera.forward.z, 1, 1e-5);
}

TEST_F(MVEntryPointTest, EAndQTogetherCancel) {
    hold(SDLK_e);
    hold(SDLK_q);
    for (int i = 0; i < 25; ++i) {
        frame(0.02f);
    }
    EXPECT_NEAR(controller->camera.up.x, 0, 1e-5);
    EXPECT_NEAR(controller->camera.up.y, 1, 1e-5);
    EXPECT_NEAR(controller->camera.getOrientation()->w, 1, 1e-5);
}

TEST_F(MVEntryPointTest, UpdateCarriesTheOrientationOfThePreviousApply) {
    ASSERT_TRUE(gametest::warpMouse(410, 300));
    frame(0.05f);  // sends, then applies the yaw
    auto updates = wire.received();
    ASSERT_EQ(updates.size(), 1u);
    EXPECT_FLOAT_EQ(updates[0].orientation().w(), 1.0f);  // nothing applied before it
    EXPECT_FLOAT_EQ(updates[0].orientation().y(), 0.0f);

    ASSERT_TRUE(
        gametest::warpMouse(400, 340));  // a pitch this frame: not yet in this frame's update
    frame(0.05f);
    updates = wire.received();
    ASSERT_EQ(updates.size(), 1u);
    const float a = -0.05f;  // the first frame's yaw only
    EXPECT_NEAR(updates[0].orientation().w(), std::cos(a / 2), 1e-6);
    EXPECT_NEAR(updates[0].orientation().x(), 0, 1e-6);
    EXPECT_NEAR(updates[0].orientation().y(), std::sin(a / 2), 1e-6);
    EXPECT_NEAR(updates[0].orientation().z(), 0, 1e-6);
}

// ---- long flights ----

// The server takes an update's orientation only while its squared length stays within 0.8 to
// 1.2; rounding in the camera's products must not carry it there, however long one turns.
TEST_F(MVEntryPointTest, AnHourOfTurningKeepsTheOrientationUnitLengthAndTheViewOnIt) {
    const float dt = 1.0f / 60;
    Camera& camera = controller->camera;
    for (int i = 0; i < 60 * 60 * 60; ++i) {
        // What mouseLook makes of a pointer held 7 pixels right of and 3 below the centre, and
        // update of 'e' held.
        camera.yaw(7 * -0.005f);
        camera.pitch(3 * -0.005f);
        camera.roll(dt * 1.0f);
        glLoadIdentity();
        controller->applyCamera();
    }
    frame(0.05f);

    const auto updates = wire.received();
    ASSERT_EQ(updates.size(), 1u);
    const Morvik::Orientation& sent = updates[0].orientation();
    EXPECT_NEAR(
        sent.w() * sent.w() + sent.x() * sent.x() + sent.y() * sent.y() + sent.z() * sent.z(), 1,
        1e-5);
    // forward and up are turned on their own and never rescaled (after the hour up to 0.2 %
    // too long and 0.1 degree off), yet still point where the orientation says.
    Vec3 forward = camera.forward;
    Vec3 up = camera.up;
    forward.normalize();
    up.normalize();
    const Vec3 wantForward = camera.orientation.rotate(Vec3(0, 0, 1));
    const Vec3 wantUp = camera.orientation.rotate(Vec3(0, 1, 0));
    EXPECT_NEAR(forward.x, wantForward.x, 1e-2);
    EXPECT_NEAR(forward.y, wantForward.y, 1e-2);
    EXPECT_NEAR(forward.z, wantForward.z, 1e-2);
    EXPECT_NEAR(up.x, wantUp.x, 1e-2);
    EXPECT_NEAR(up.y, wantUp.y, 1e-2);
    EXPECT_NEAR(up.z, wantUp.z, 1e-2);
}

// ---- quitting ----

TEST_F(MVEntryPointTest, EscapeQuitsOnKeyDown) {
    window.addListener(controller);
    const int passes = gametest::passesUntilQuit(
        [] {
            gametest::pushKey(SDLK_ESCAPE, true);
            window.pollEvents();
        },
        3);
    EXPECT_EQ(passes, 1);
}

TEST_F(MVEntryPointTest, EscapeQuitsOnKeyUpToo) {
    window.addListener(controller);
    const int passes = gametest::passesUntilQuit(
        [] {
            gametest::pushKey(SDLK_ESCAPE, false);
            window.pollEvents();
        },
        3);
    EXPECT_EQ(passes, 1);
}

TEST_F(MVEntryPointTest, OtherKeysDoNotQuit) {
    window.addListener(controller);
    const int passes = gametest::passesUntilQuit(
        [] {
            gametest::pushKey(SDLK_q, true);
            gametest::pushKey(SDLK_q, false);
            gametest::pushKey(SDLK_RETURN, true);
            window.pollEvents();
        },
        3);
    EXPECT_EQ(passes, 4);  // ended by the harness
}

// ---- set-up ----

TEST_F(MVEntryPointTest, SetupPlacesBothCarriersAndListens) {
    controller->setup();
    ASSERT_NE(window.skybox, nullptr);
    SceneGraph::ObjectList* carriers = SceneGraph::getInstance()->getObjectsOfType(kCarrierType);
    ASSERT_NE(carriers, nullptr);
    ASSERT_EQ(carriers->size(), 2u);
    int red = 0;
    int blue = 0;
    for (Transform* object : *carriers) {
        TestCube* carrier = dynamic_cast<TestCube*>(object);
        ASSERT_NE(carrier, nullptr);
        EXPECT_EQ(carrier->id, 0u);
        // Red holds the x = +500 side, blue the x = -500 side.
        if (carrier->blueTeam) {
            ++blue;
            EXPECT_LT(carrier->position.x, 0.0f);
        } else {
            ++red;
            EXPECT_GT(carrier->position.x, 0.0f);
        }
    }
    EXPECT_EQ(red, 1);
    EXPECT_EQ(blue, 1);
    ASSERT_EQ(window.input.listeners.size(), 1u);
    EXPECT_EQ(window.input.listeners[0], controller);
}

// ---- HUD ----

// Draws the HUD as the frame does (pixels, origin top-left, red to start with) over black.
void drawHudOverBlack(MVEntryPoint* controller) {
    ResourceManager::getInstance()->preloadTexture("skybox.png");  // as set-up leaves GL
    glClearColor(0, 0, 0, 1);
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    glMatrixMode(GL_MODELVIEW);
    glLoadIdentity();
    drawHudPass(controller);
}

struct Tally {
    int red = 0;
    int green = 0;
    int blue = 0;
    int white = 0;
};

// Counts strongly coloured pixels in a HUD rectangle (HUD coordinates: y down).
Tally tally(int x, int y, int w, int h) {
    const std::vector<std::uint8_t> p = gametest::readPixels(x, 600 - (y + h), w, h);
    Tally t;
    for (std::size_t i = 0; i + 2 < p.size(); i += 3) {
        const int r = p[i], g = p[i + 1], b = p[i + 2];
        if (r > 120 && g < 40 && b < 40) {
            ++t.red;
        } else if (g > 120 && r < 40 && b < 40) {
            ++t.green;
        } else if (b > 120 && r < 40 && g < 40) {
            ++t.blue;
        } else if (r > 120 && g > 120 && b > 120) {
            ++t.white;
        }
    }
    return t;
}

Player* ownPlayer(MVEntryPoint* controller, float health) {
    Player* player = new Player((1ull << 32) | 7, false, 100);
    player->health = health;
    SceneGraph::getInstance()->add(player);
    controller->ownObjectId = player->id;
    return player;
}

TEST_F(MVEntryPointTest, HealthOfExactlyTwentyIsGreen) {
    ownPlayer(controller, 20.0f);
    drawHudOverBlack(controller);
    const Tally health = tally(0, 52, 200, 20);
    EXPECT_GT(health.green, 20);
    EXPECT_EQ(health.red, 0);
}

TEST_F(MVEntryPointTest, HealthBelowTwentyIsRed) {
    ownPlayer(controller, 19.99f);
    drawHudOverBlack(controller);
    const Tally health = tally(0, 52, 200, 20);
    EXPECT_GT(health.red, 20);
    EXPECT_EQ(health.green, 0);
}

TEST_F(MVEntryPointTest, HudLinesTakeTheirColours) {
    ownPlayer(controller, 50.0f);
    GameState::getInstance()->redTeamScore = 3;
    GameState::getInstance()->blueTeamScore = 4;
    drawHudOverBlack(controller);
    const Tally fps = tally(0, 2, 120, 20);  // the colour the frame set: red
    EXPECT_GT(fps.red, 20);
    EXPECT_EQ(fps.white, 0);
    const Tally speed = tally(0, 27, 120, 20);
    EXPECT_GT(speed.white, 10);
    EXPECT_EQ(speed.red + speed.green, 0);
    const Tally redScore = tally(200, 27, 40, 20);
    EXPECT_GT(redScore.red, 5);
    const Tally blueScore = tally(200, 52, 40, 20);
    EXPECT_GT(blueScore.blue, 5);
    const Tally position = tally(250, 2, 400, 20);
    EXPECT_GT(position.white, 20);
}

struct HudText {
    float x, y;
    float r, g, b;
    const char* text;
};

// What the HUD should show, but for the rate line: each text through the same drawText, in the
// same pixel space (origin top-left, y down) and the same enables as the frame's HUD pass, over
// black.
void drawExpectedHud(const std::vector<HudText>& texts) {
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    glMatrixMode(GL_PROJECTION);
    glPushMatrix();
    glLoadIdentity();
    gluOrtho2D(0.0, 800.0, 0.0, 600.0);
    glScalef(1, -1, 1);
    glTranslatef(0, -600.0f, 0);
    glMatrixMode(GL_MODELVIEW);
    glPushAttrib(GL_ENABLE_BIT);
    glDisable(GL_LIGHTING);
    glEnable(GL_BLEND);
    for (const HudText& t : texts) {
        glColor4f(t.r, t.g, t.b, 1);
        ResourceManager::getInstance()->drawText(t.text, "arial.ttf", t.x, t.y);
    }
    glPopAttrib();
    glMatrixMode(GL_PROJECTION);
    glPopMatrix();
    glMatrixMode(GL_MODELVIEW);
}

TEST_F(MVEntryPointTest, HudShowsTheOwnShipsSpeedHealthScoreAndPlace) {
    ASSERT_NE(ResourceManager::getInstance()->getFont("arial.ttf"), nullptr);
    Player* own = ownPlayer(controller, 42.5f);
    own->score = 13;
    own->position = Vec3(1.5f, -2, 3);
    // The speed is the one estimated from the samples; the other velocities must not show.
    own->sampleVelocity = Vec3(3, 4, 12);
    own->velocity = Vec3(1, 2, 2);
    own->extrapolationVelocity = Vec3(0, 0, 7);
    own->previousSampleVelocity = Vec3(6, 0, 8);
    GameState::getInstance()->redTeamScore = 3;
    GameState::getInstance()->blueTeamScore = -4;

    drawHudOverBlack(controller);
    const std::vector<std::uint8_t> drawn = gametest::readPixels(0, 0, 800, 600);
    drawExpectedHud({{0, 25, 1, 1, 1, "speed: 13.00"},
                     {0, 50, 0, 1, 0, "health: 42.50%"},
                     {200, 0, 1, 1, 1, "13"},
                     {200, 25, 1, 0, 0, "3"},
                     {200, 50, 0, 0, 1, "-4"},
                     {250, 0, 1, 1, 1, "(1.500000,-2.000000,3.000000)"}});
    const std::vector<std::uint8_t> expected = gametest::readPixels(0, 0, 800, 600);

    // Everywhere but the rate line, whose value depends on the time between draws.
    int lit = 0;
    int differing = 0;
    for (int row = 0; row < 600; ++row) {
        const int hudY = 599 - row;
        for (int x = 0; x < 800; ++x) {
            if (hudY < 25 && x < 200) {
                continue;
            }
            const std::size_t i = (static_cast<std::size_t>(row) * 800 + x) * 3;
            lit += expected[i] + expected[i + 1] + expected[i + 2] > 0 ? 1 : 0;
            if (drawn[i] != expected[i] || drawn[i + 1] != expected[i + 1] ||
                drawn[i + 2] != expected[i + 2]) {
                if (differing++ == 0) {
                    ADD_FAILURE() << "first difference at HUD (" << x << ", " << hudY << ")";
                }
            }
        }
    }
    EXPECT_GT(lit, 500);
    EXPECT_EQ(differing, 0);
}

TEST_F(MVEntryPointTest, WithoutAnOwnShipOnlyTheRateLineIsDrawn) {
    controller->ownObjectId = 12345;  // names nothing
    drawHudOverBlack(controller);
    EXPECT_GT(tally(0, 2, 120, 20).red, 20);
    const Tally rest = tally(0, 25, 800, 575);
    EXPECT_EQ(rest.red + rest.green + rest.blue + rest.white, 0);
    const Tally right = tally(200, 0, 600, 25);
    EXPECT_EQ(right.red + right.green + right.blue + right.white, 0);
}

}  // namespace
