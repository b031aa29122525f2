#pragma once

#include <SDL/SDL.h>

#include <cstdint>

#include "client/Camera.h"
#include "client/MVObject.h"

// The client's controller: scene set-up, mouse look and roll, the periodic ClientUpdate,
// the camera and the HUD. Main thread only.
class MVEntryPoint : public MVObject {
public:
    static MVEntryPoint* getInstance();

    void setup();
    void onKey(SDL_KeyboardEvent event) override;
    void update(float dt);
    void mouseLook();
    void setCameraPosition(float x, float y, float z);
    Vec3 applyCamera();
    Camera getCamera() const { return camera; }
    void drawHud();

    std::uint64_t ownObjectId = 0;
    Camera camera;
    float sendAccumulator = 0.0f;

private:
    MVEntryPoint() = default;
};
