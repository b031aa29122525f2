#include "client/MVEntryPoint.h"

#include <GL/gl.h>

#include <cstdarg>
#include <cstdint>
#include <cstdio>

#include "Common/Controls.h"
#include "Common/GameState.h"
#include "Common/Platform.h"
#include "Common/Protobuf/Object.pb.h"
#include "Common/SceneGraph.h"
#include "Common/TaskScheduler.h"
#include "client/Player.h"
#include "client/Render.h"
#include "client/ResourceManager.h"
#include "client/Sender.h"
#include "client/TestCube.h"
#include "client/Window.h"

namespace {

constexpr float kSendInterval = 0.05f;        // seconds of frame time per ClientUpdate
constexpr float kMouseRadPerPixel = -0.005f;  // both axes
constexpr float kRollRate = 1.0f;             // radians per second
constexpr float kLowHealth = 20.0f;
const char* const kHudFont = "arial.ttf";

// The held keys and the control each stands for.
struct Control {
    SDLKey key;
    std::uint32_t bit;
};
constexpr Control kControls[] = {
    {SDLK_w, controls::kForward}, {SDLK_s, controls::kBack},   {SDLK_d, controls::kRight},
    {SDLK_a, controls::kLeft},    {SDLK_SPACE, controls::kUp}, {SDLK_c, controls::kDown},
};

bool hudDrawnBefore = false;
std::uint32_t hudPreviousTick = 0;

void hudLine(float x, float y, const char* format, ...) __attribute__((format(printf, 3, 4)));

void hudLine(float x, float y, const char* format, ...) {
    // Long enough for the position line with three huge %f values; snprintf cuts the rest.
    char text[512];
    va_list args;
    va_start(args, format);
    std::vsnprintf(text, sizeof text, format, args);
    va_end(args);
    ResourceManager::getInstance()->drawText(text, kHudFont, x, y);
}

}  // namespace

MVEntryPoint* MVEntryPoint::getInstance() {
    static MVEntryPoint* instance = new MVEntryPoint();
    return instance;
}

void MVEntryPoint::setup() {
    window.setSkybox("skybox.png");
    window.addListener(this);

    TestCube* red = new TestCube(0, false);
    translate(red, GameState::getInstance()->getRedSpawnPosition());
    SceneGraph::getInstance()->add(red);

    TestCube* blue = new TestCube(0, true);
    translate(blue, GameState::getInstance()->getBlueSpawnPosition());
    SceneGraph::getInstance()->add(blue);
}

void MVEntryPoint::onKey(SDL_KeyboardEvent event) {
    // Pressing and releasing both quit.
    if (event.keysym.sym == SDLK_ESCAPE) {
        requestQuit();
    }
}

void MVEntryPoint::mouseLook() {
    const Vec2 d = window.getMouseDelta();
    camera.yaw(d.x * kMouseRadPerPixel);
    camera.pitch(d.y * kMouseRadPerPixel);
}

void MVEntryPoint::update(float dt) {
    mouseLook();
    if (window.isKeyDown(SDLK_e)) {
        camera.roll(dt * kRollRate);
    }
    if (window.isKeyDown(SDLK_q)) {
        camera.roll(dt * -kRollRate);
    }

    sendAccumulator += dt;
    if (sendAccumulator < kSendInterval) {
        return;
    }
    std::uint32_t mask = 0;
    for (const Control& control : kControls) {
        if (window.isKeyDown(control.key)) {
            mask += control.bit;
        }
    }
    if (window.isMouseButtonDown()) {
        mask += controls::kFire;
    }
    Morvik::ClientUpdate message;
    message.set_boosterson(mask);
    // This frame's rotations are still pending: they reach the orientation at the next apply.
    toOrientation(message.mutable_orientation(), *camera.getOrientation());
    Sender::getInstance()->sendClientUpdate(message);
    // The surplus over the interval is dropped, so one frame sends at most one update.
    sendAccumulator = 0.0f;
}

void MVEntryPoint::setCameraPosition(float x, float y, float z) {
    camera.setPosition(x, y, z);
}

Vec3 MVEntryPoint::applyCamera() {
    return camera.apply();
}

void MVEntryPoint::drawHud() {
    const std::uint32_t now = static_cast<std::uint32_t>(getTickCount());
    if (!hudDrawnBefore) {
        hudPreviousTick = now;
        hudDrawnBefore = true;
    }
    const std::int32_t interval = static_cast<std::int32_t>(now - hudPreviousTick);
    // The very first draw (and one in the same millisecond as the last) has no interval to
    // measure: it shows 0 rather than an infinite rate.
    const float fps = interval > 0 ? (1.0f / interval) * 1000.0f : 0.0f;
    hudPreviousTick = now;
    hudLine(0, 0, "fps: %.2f", fps);

    Transform* own = SceneGraph::getInstance()->find(ownObjectId);
    if (own == nullptr) {
        return;
    }
    glColor3f(1, 1, 1);
    hudLine(0, 25, "speed: %.2f", own->sampleVelocity.length());
    if (Player* player = dynamic_cast<Player*>(own)) {
        if (player->health < kLowHealth) {
            glColor3f(1, 0, 0);
        } else {
            glColor3f(0, 1, 0);
        }
        hudLine(0, 50, "health: %.2f%%", player->health);
        glColor3f(1, 1, 1);
        hudLine(200, 0, "%d", player->score);
    }
    glColor3f(1, 0, 0);
    hudLine(200, 25, "%d", GameState::getInstance()->redTeamScore);
    glColor3f(0, 0, 1);
    hudLine(200, 50, "%d", GameState::getInstance()->blueTeamScore);
    glColor3f(1, 1, 1);
    hudLine(250, 0, "%s", own->position.toString().c_str());
}
