#pragma once

#include <SDL/SDL_ttf.h>

#include <cstdint>
#include <map>
#include <string>

// The client's one loader and cache of resource files (textures, models, fonts), found in the
// folder "Resources" beside the working directory. Failed loads are cached too.
// Main thread only: everything here issues OpenGL calls.
class ResourceManager {
public:
    static ResourceManager* getInstance();

    std::uint32_t getTexture(std::string name);  // 0 when not loaded
    void preloadTexture(std::string name);
    std::uint32_t getModel(std::string name);  // display list, 0 when not loaded
    void preloadModel(std::string name);
    void drawModel(std::string name);
    TTF_Font* getFont(std::string name);  // null when not loaded
    // White text at 20 points, tinted by the current OpenGL colour.
    void drawText(std::string text, std::string fontName, float x, float y);
    void drawText(TTF_Font* font, std::string text, double x, double y, double z, std::uint8_t r,
                  std::uint8_t g, std::uint8_t b);

    std::uint32_t loadTexture(std::string name);
    std::uint32_t loadModel(std::string name);
    TTF_Font* loadFont(std::string name);
    void getResourcePath();

    std::string basePath;
    std::map<std::string, std::uint32_t> textures;
    std::map<std::string, std::uint32_t> models;
    std::map<std::string, TTF_Font*> fonts;

private:
    ResourceManager();
};
