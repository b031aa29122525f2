#pragma once
// Shared by the window, camera, skybox and controller tests: the real window under the test's
// X server (Xvfb with Mesa's software renderer), and input injected through SDL itself.

#include <GL/gl.h>
#include <SDL/SDL.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "Common/TaskScheduler.h"
#include "client/ResourceManager.h"
#include "client/Window.h"

namespace gametest {

// Opens the 800 x 600 window once per process.
inline void openWindow() {
    static bool open = false;
    if (!open) {
        // An X server that resets when its last client leaves refuses connections meanwhile
        // (the test script runs it with -noreset); should one be refused all the same, it is
        // tried again for up to 10 s here rather than ending the test inside Window::init.
        // Only the X driver: SDL would otherwise start on a text-terminal driver without
        // OpenGL when X refuses it, and that start would not be tried again.
        setenv("SDL_VIDEODRIVER", "x11", 0);
        for (int attempt = 1; attempt <= 100 && SDL_InitSubSystem(SDL_INIT_VIDEO) != 0; ++attempt) {
            std::fprintf(stderr, "X display could not be opened (%s); try %d of 100 again\n",
                         SDL_GetError(), attempt);
            SDL_Delay(100);
        }
        window.init();
        open = true;
    }
}

// The repository's resources, with empty caches: whatever an earlier test of the process
// pointed the manager at is forgotten.
inline std::string resourcesFolder() {
    return MORVIK_RESOURCES_DIR;
}

inline void useGameResources() {
    ResourceManager* resources = ResourceManager::getInstance();
    resources->basePath = resourcesFolder();
    resources->textures.clear();
    resources->models.clear();
    resources->fonts.clear();
}

inline void pushKey(SDLKey key, bool down) {
    SDL_Event event{};
    event.type = down ? SDL_KEYDOWN : SDL_KEYUP;
    event.key.type = event.type;
    event.key.state = down ? SDL_PRESSED : SDL_RELEASED;
    event.key.keysym.sym = key;
    SDL_PushEvent(&event);
}

// Moves the X pointer over the window; SDL learns of it from the X server's motion event.
inline bool warpMouse(int x, int y) {
    SDL_WarpMouse(static_cast<Uint16>(x), static_cast<Uint16>(y));
    for (int i = 0; i < 2000; ++i) {
        SDL_PumpEvents();  // leaves pushed key events queued
        int nowX = -1;
        int nowY = -1;
        SDL_GetMouseState(&nowX, &nowY);
        if (nowX == x && nowY == y) {
            return true;
        }
        SDL_Delay(1);
    }
    return false;
}

inline void pushQuit() {
    SDL_Event event{};
    event.type = SDL_QUIT;
    SDL_PushEvent(&event);
}

// Back to no keys held, no listeners and the pointer at the window's centre.
inline void resetInput() {
    SDL_Event event;
    while (SDL_PollEvent(&event)) {
    }
    window.input.listeners.clear();
    for (bool& key : window.input.keys) {
        key = false;
    }
    window.getMouseDelta();
    warpMouse(window.video.width / 2, window.video.height / 2);
}

// A scheduler clock that never sleeps: every pass sees 1000 ms more.
struct InstantClock : TaskScheduler::Clock {
    std::uint64_t ms = 1000;
    std::uint64_t now() override { return ms += 1000; }
    void sleepMs(std::int64_t) override {}
};

// Runs the real scheduler loop with `task` as its only task and returns how many passes ran
// before the loop ended. A loop still running after `limit` passes is ended by the harness.
inline int passesUntilQuit(void (*task)(), int limit) {
    static void (*current)() = nullptr;
    static int passes = 0;
    static int maxPasses = 0;
    current = task;
    passes = 0;
    maxPasses = limit;
    InstantClock clock;
    TaskScheduler::clearTasks();
    TaskScheduler::setClock(&clock);
    addTask(
        [] {
            ++passes;
            if (passes > maxPasses) {
                requestQuit();
                return;
            }
            current();
        },
        60.0f);
    TaskScheduler::run();
    TaskScheduler::setClock(nullptr);
    TaskScheduler::clearTasks();
    return passes;
}

// Reads the window's back buffer as RGB rows, bottom row first (OpenGL's order).
inline std::vector<std::uint8_t> readPixels(int x, int y, int w, int h) {
    std::vector<std::uint8_t> pixels(static_cast<std::size_t>(w) * h * 3);
    glPixelStorei(GL_PACK_ALIGNMENT, 1);
    glReadPixels(x, y, w, h, GL_RGB, GL_UNSIGNED_BYTE, pixels.data());
    return pixels;
}

}  // namespace gametest
