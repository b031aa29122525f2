#include "client/ResourceManager.h"

#include <GL/gl.h>
#include <GL/glu.h>
#include <SDL/SDL_image.h>

#include <assimp/postprocess.h>
#include <assimp/scene.h>
#include <assimp/Importer.hpp>

#include "Common/ConsoleLog.h"
#include "Common/Platform.h"

namespace {

constexpr int kFontPointSize = 20;
constexpr unsigned kModelImportFlags = aiProcess_CalcTangentSpace |
                                       aiProcess_JoinIdenticalVertices | aiProcess_Triangulate |
                                       aiProcess_SortByPType;
static_assert(kModelImportFlags == 0x800B, "the models are imported with these four steps");

// 32-bit RGBA in memory order, whatever the machine's byte order.
SDL_Surface* convertToRGBA(SDL_Surface* image) {
    const bool bigEndian = SDL_BYTEORDER == SDL_BIG_ENDIAN;
    const Uint32 r = bigEndian ? 0xFF000000 : 0x000000FF;
    const Uint32 g = bigEndian ? 0x00FF0000 : 0x0000FF00;
    const Uint32 b = bigEndian ? 0x0000FF00 : 0x00FF0000;
    const Uint32 a = bigEndian ? 0x000000FF : 0xFF000000;
    SDL_Surface* layout = SDL_CreateRGBSurface(SDL_SWSURFACE, 1, 1, 32, r, g, b, a);
    if (layout == nullptr) {
        return nullptr;
    }
    SDL_Surface* converted = SDL_ConvertSurface(image, layout->format, SDL_SWSURFACE);
    SDL_FreeSurface(layout);
    return converted;
}

}  // namespace

ResourceManager* ResourceManager::getInstance() {
    static ResourceManager* instance = new ResourceManager();
    return instance;
}

ResourceManager::ResourceManager() {
    if (TTF_Init() == -1) {
        consoleLog("TTF_Init: %s\n", SDL_GetError());
    }
    getResourcePath();
}

void ResourceManager::getResourcePath() {
    const std::string workingDirectory = platform::currentDirectory();
    // Without a readable working directory the relative form names the same folder.
    basePath = workingDirectory.empty() ? "../Resources/" : workingDirectory + "/../Resources/";
}

std::uint32_t ResourceManager::getTexture(std::string name) {
    const auto found = textures.find(name);
    if (found != textures.end()) {
        return found->second;
    }
    const std::uint32_t texture = loadTexture(name);
    if (texture == 0) {
        consoleLog("Error Texture not loaded %s\n", name.c_str());
    }
    textures[name] = texture;
    return texture;
}

void ResourceManager::preloadTexture(std::string name) {
    getTexture(std::move(name));
}

std::uint32_t ResourceManager::getModel(std::string name) {
    const auto found = models.find(name);
    if (found != models.end()) {
        return found->second;
    }
    const std::uint32_t list = loadModel(name);
    if (list == 0) {
        consoleLog("Error Model not loaded %s\n", name.c_str());
    }
    models[name] = list;
    return list;
}

void ResourceManager::preloadModel(std::string name) {
    getModel(std::move(name));
}

void ResourceManager::drawModel(std::string name) {
    const std::uint32_t list = getModel(std::move(name));
    if (list != 0) {
        glCallList(list);
    }
}

TTF_Font* ResourceManager::getFont(std::string name) {
    const auto found = fonts.find(name);
    if (found != fonts.end()) {
        return found->second;
    }
    TTF_Font* font = loadFont(name);
    if (font == nullptr) {
        consoleLog("Error Font not loaded %s\n", name.c_str());
    }
    fonts[name] = font;
    return font;
}

void ResourceManager::drawText(std::string text, std::string fontName, float x, float y) {
    TTF_Font* font = getFont(std::move(fontName));
    if (font != nullptr) {
        drawText(font, std::move(text), x, y, 0.0, 255, 255, 255);
    }
}

void ResourceManager::drawText(TTF_Font* font, std::string text, double x, double y, double z,
                               std::uint8_t r, std::uint8_t g, std::uint8_t b) {
    if (font == nullptr || text.empty()) {
        return;
    }
    SDL_Color colour{r, g, b, 0};
    SDL_Surface* image = TTF_RenderText_Blended(font, text.c_str(), colour);
    if (image == nullptr) {
        return;
    }
    const double w = image->w;
    const double h = image->h;

    GLuint texture = 0;
    glGenTextures(1, &texture);
    glBindTexture(GL_TEXTURE_2D, texture);
    glTexParameterf(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_LINEAR);
    glTexParameterf(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_LINEAR);
    glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA, image->w, image->h, 0, GL_BGRA, GL_UNSIGNED_BYTE,
                 image->pixels);

    glBegin(GL_QUADS);
    glTexCoord2d(0, 0);
    glVertex3d(x, y, z);
    glTexCoord2d(1, 0);
    glVertex3d(x + w, y, z);
    glTexCoord2d(1, 1);
    glVertex3d(x + w, y + h, z);
    glTexCoord2d(0, 1);
    glVertex3d(x, y + h, z);
    glEnd();

    glDeleteTextures(1, &texture);
    SDL_FreeSurface(image);
}

std::uint32_t ResourceManager::loadTexture(std::string name) {
    const std::string path = basePath + name;
    consoleLog("Loading: %s\n", path.c_str());
    SDL_Surface* image = IMG_Load(path.c_str());
    if (image == nullptr) {
        consoleLog("Error could not load file %s\n", path.c_str());
        return 0;
    }
    int bytesPerPixel = image->format->BytesPerPixel;
    if (bytesPerPixel != 3 && bytesPerPixel != 4) {
        // Paletted and grey images: as RGBA they upload like any other.
        SDL_Surface* converted = convertToRGBA(image);
        SDL_FreeSurface(image);
        if (converted == nullptr) {
            consoleLog("Error could not load file %s\n", path.c_str());
            return 0;
        }
        image = converted;
        bytesPerPixel = 4;
    }
    const bool redFirst = image->format->Rmask == 0xFF;
    GLenum format;
    if (bytesPerPixel == 4) {
        format = redFirst ? GL_RGBA : GL_BGRA;
    } else {
        format = redFirst ? GL_RGB : GL_BGR;
    }

    // Texturing and blending stay on after this: the HUD's text relies on it.
    glPushMatrix();
    glEnable(GL_TEXTURE_2D);
    glEnable(GL_BLEND);
    glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
    GLuint texture = 0;
    glGenTextures(1, &texture);
    glBindTexture(GL_TEXTURE_2D, texture);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_LINEAR);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_LINEAR);
    gluBuild2DMipmaps(GL_TEXTURE_2D, bytesPerPixel, image->w, image->h, format, GL_UNSIGNED_BYTE,
                      image->pixels);
    glPopMatrix();
    SDL_FreeSurface(image);
    return texture;
}

std::uint32_t ResourceManager::loadModel(std::string name) {
    consoleLog("Loading model: %s\n", name.c_str());
    Assimp::Importer importer;
    const aiScene* scene = importer.ReadFile(basePath + name, kModelImportFlags);
    if (scene == nullptr) {
        consoleLog("%s\n", importer.GetErrorString());
        return 0;
    }

    const GLuint list = glGenLists(1);
    glNewList(list, GL_COMPILE);
    int faceCount = 0;
    for (unsigned m = 0; m < scene->mNumMeshes; ++m) {
        const aiMesh* mesh = scene->mMeshes[m];
        const bool hasNormals = mesh->HasNormals();
        const bool hasTexCoords = mesh->HasTextureCoords(0);
        for (unsigned f = 0; f < mesh->mNumFaces; ++f) {
            const aiFace& face = mesh->mFaces[f];
            ++faceCount;
            glBegin(face.mNumIndices == 3 ? GL_TRIANGLES : GL_POLYGON);
            for (unsigned i = 0; i < face.mNumIndices; ++i) {
                const unsigned index = face.mIndices[i];
                if (hasNormals) {
                    const aiVector3D& n = mesh->mNormals[index];
                    glNormal3f(n.x, n.y, n.z);
                }
                if (hasTexCoords) {
                    // Image rows run top-down as loaded; the model's v runs bottom-up.
                    const aiVector3D& uv = mesh->mTextureCoords[0][index];
                    glTexCoord2d(uv.x, 1.0 - uv.y);
                }
                const aiVector3D& v = mesh->mVertices[index];
                glVertex3f(v.x, v.y, v.z);
            }
            glEnd();
        }
    }
    glEndList();
    consoleLog("With Faces: %d\n", faceCount);
    return list;
}

TTF_Font* ResourceManager::loadFont(std::string name) {
    const std::string path = basePath + name;
    TTF_Font* font = TTF_OpenFont(path.c_str(), kFontPointSize);
    if (font == nullptr) {
        consoleLog("Error:%s, could not open %s\n", SDL_GetError(), path.c_str());
    }
    return font;
}
