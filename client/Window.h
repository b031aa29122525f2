#pragma once

#include <SDL/SDL.h>

#include <string>
#include <vector>

#include "Common/Vec3.h"
#include "client/MVObject.h"

class Skybox;

// The mouse offset: a plain pair of floats.
struct Vec2 {
    float x, y;
};

// The client's SDL 1.2 window with its OpenGL state, keys, listeners and skybox.
// One instance, `window`, with static storage. Main thread only.
class Window {
public:
    struct InputState {
        std::vector<MVObject*> listeners;
        bool keys[SDLK_LAST] = {};
    };
    struct VideoSettings {
        int width = 800;
        int height = 600;
        float zNear = 1.0f;
        float zFar = 10000.0f;
        SDL_Surface* screen = nullptr;
        bool fullscreen = false;
        float fovy = 60.0f;
        float clearColour[4] = {0, 0, 0, 1};
    };

    Window() = default;
    ~Window();

    void init();
    void setVideoMode(int width, int height, bool fullscreen);
    void setGLAttributes();
    void initGL();
    void pollEvents();
    void addListener(MVObject* listener);
    bool isKeyDown(SDLKey key) const;
    bool isMouseButtonDown() const;
    Vec2 getMouseDelta();
    void setSkybox(std::string textureName);
    void drawSkybox(Vec3 cameraPosition);

    InputState input;
    VideoSettings video;
    Skybox* skybox = nullptr;
};

extern Window window;
