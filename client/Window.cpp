#include "client/Window.h"

#include <GL/gl.h>
#include <GL/glu.h>

#include <cstdio>

#include "Common/Platform.h"
#include "Common/TaskScheduler.h"
#include "client/Skybox.h"

Window window;

Window::~Window() {
    delete skybox;
    skybox = nullptr;
}

void Window::init() {
    if (SDL_Init(SDL_INIT_EVERYTHING) < 0) {
        std::fprintf(stderr, "Couldn't initialize SDL: %s\n", SDL_GetError());
        platform::endProcess(1);
    }
    setGLAttributes();
    setVideoMode(800, 600, false);
}

void Window::setGLAttributes() {
    SDL_GL_SetAttribute(SDL_GL_DEPTH_SIZE, 16);
    SDL_GL_SetAttribute(SDL_GL_DOUBLEBUFFER, 1);
}

void Window::setVideoMode(int width, int height, bool fullscreen) {
    video.width = width;
    video.height = height;
    video.fullscreen = fullscreen;
    Uint32 flags = SDL_OPENGL;
    if (fullscreen) {
        flags |= SDL_FULLSCREEN;
    }
    video.screen = SDL_SetVideoMode(width, height, 0, flags);
    if (video.screen == nullptr) {
        std::fprintf(stderr, "Couldn't set %dx%d OpenGL video mode: %s\n", width, height,
                     SDL_GetError());
        SDL_Quit();
        platform::endProcess(2);
    }
    initGL();
}

void Window::initGL() {
    glDepthFunc(GL_LESS);
    glEnable(GL_DEPTH_TEST);
    glClearColor(video.clearColour[0], video.clearColour[1], video.clearColour[2],
                 video.clearColour[3]);
    glViewport(0, 0, video.width, video.height);
    glMatrixMode(GL_PROJECTION);
    glLoadIdentity();
    gluPerspective(video.fovy, static_cast<double>(video.width) / video.height, video.zNear,
                   video.zFar);
    glMatrixMode(GL_MODELVIEW);
    glEnable(GL_COLOR_MATERIAL);
    glEnable(GL_LIGHTING);
    glEnable(GL_LIGHT0);
    glEnable(GL_LIGHT1);

    // Set under an identity model-view, so both directions stay fixed relative to the viewer.
    const GLfloat ambient[] = {0.5f, 0.5f, 0.5f, 1.0f};
    const GLfloat diffuse0[] = {1.0f, 1.0f, 1.0f, 1.0f};
    const GLfloat position0[] = {-1.0f, 0.0f, 0.0f, 0.0f};
    const GLfloat diffuse1[] = {0.5f, 0.5f, 0.5f, 1.0f};
    const GLfloat position1[] = {0.0f, 1.0f, 0.0f, 0.0f};
    glLightModelfv(GL_LIGHT_MODEL_AMBIENT, ambient);
    glLightfv(GL_LIGHT0, GL_DIFFUSE, diffuse0);
    glLightfv(GL_LIGHT0, GL_POSITION, position0);
    glLightfv(GL_LIGHT1, GL_DIFFUSE, diffuse1);
    glLightfv(GL_LIGHT1, GL_POSITION, position1);
}

void Window::pollEvents() {
    SDL_Event event;
    while (SDL_PollEvent(&event)) {
        switch (event.type) {
            case SDL_KEYDOWN:
            case SDL_KEYUP:
                // The table first, so that a listener already sees the new state.
                if (event.key.keysym.sym >= 0 && event.key.keysym.sym < SDLK_LAST) {
                    input.keys[event.key.keysym.sym] = event.type == SDL_KEYDOWN;
                }
                for (MVObject* listener : input.listeners) {
                    listener->onKey(event.key);
                }
                break;
            case SDL_QUIT:
                requestQuit();
                break;
            default:
                break;
        }
    }
}

void Window::addListener(MVObject* listener) {
    input.listeners.push_back(listener);
}

bool Window::isKeyDown(SDLKey key) const {
    return key >= 0 && key < SDLK_LAST && input.keys[key];
}

bool Window::isMouseButtonDown() const {
    return (SDL_GetMouseState(nullptr, nullptr) & SDL_BUTTON(SDL_BUTTON_LEFT)) != 0;
}

Vec2 Window::getMouseDelta() {
    const int centreX = video.width / 2;
    const int centreY = video.height / 2;
    int x = 0;
    int y = 0;
    SDL_GetMouseState(&x, &y);
    SDL_WarpMouse(static_cast<Uint16>(centreX), static_cast<Uint16>(centreY));
    return Vec2{static_cast<float>(x - centreX), static_cast<float>(y - centreY)};
}

void Window::setSkybox(std::string textureName) {
    delete skybox;
    skybox = new Skybox(textureName);
}

void Window::drawSkybox(Vec3 cameraPosition) {
    if (skybox != nullptr) {
        skybox->draw(cameraPosition, video.zFar);
    }
}
