#include "client/Frame.h"

#include <GL/gl.h>
#include <SDL/SDL.h>

#include <cstdint>

#include "Common/SceneGraph.h"
#include "client/FrameClock.h"
#include "client/HudPass.h"
#include "client/MVEntryPoint.h"
#include "client/NetworkManager.h"
#include "client/Render.h"
#include "client/Window.h"

namespace {

// The chase camera sits 2 up and 5 behind the own ship, in the ship's frame.
const Vec3 kChaseOffset(0.0f, 2.0f, -5.0f);

}  // namespace

void frame() {
    window.pollEvents();
    NetworkManager::getInstance()->processEvents();
    const float dt = static_cast<float>(frameClock.tick());

    MVEntryPoint* controller = MVEntryPoint::getInstance();
    SceneGraph* scene = SceneGraph::getInstance();
    controller->update(dt);
    scene->updateAll(dt);

    const std::uint64_t ownId = NetworkManager::getInstance()->getOwnObjectId();
    controller->ownObjectId = ownId;
    if (Transform* own = scene->find(ownId)) {
        const Vec3 eye = own->position + own->orientation.rotate(kChaseOffset);
        controller->setCameraPosition(eye.x, eye.y, eye.z);
    }
    scene->flushRemovals();

    // World.
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    glLoadIdentity();
    glPushMatrix();
    const Vec3 eye = controller->applyCamera();
    window.drawSkybox(eye);
    render(scene);
    glPopMatrix();

    drawHudPass(controller);

    SDL_GL_SwapBuffers();
}
