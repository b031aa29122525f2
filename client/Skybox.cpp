#include "client/Skybox.h"

#include <GL/gl.h>

#include "client/ResourceManager.h"

namespace {

// Texture coordinates step this far into their cell, so linear filtering never reaches into
// the neighbouring cell of the cross.
constexpr float kInset = 0.0007f;
constexpr float kThird = 1.0f / 3.0f;

struct Corner {
    float s, t;
    float x, y, z;  // in units of the half edge
};

void quad(const Corner (&corners)[4], float h) {
    glBegin(GL_QUADS);
    for (const Corner& c : corners) {
        glTexCoord2f(c.s, c.t);
        glVertex3f(c.x * h, c.y * h, c.z * h);
    }
    glEnd();
}

}  // namespace

Skybox::Skybox(std::string textureName) : textureName(textureName) {
    ResourceManager::getInstance()->preloadTexture(textureName);
}

void Skybox::draw(Vec3 eye, float farDistance) {
    const float h = farDistance * 0.5f;
    const float e = kInset;

    glPushMatrix();
    glPushAttrib(GL_ENABLE_BIT);
    glEnable(GL_TEXTURE_2D);
    glDisable(GL_LIGHTING);
    glDisable(GL_BLEND);
    glColor4f(1, 1, 1, 1);
    glTranslatef(eye.x, eye.y, eye.z);
    glBindTexture(GL_TEXTURE_2D, ResourceManager::getInstance()->getTexture(textureName));

    // The sides run along the middle row as one band: x = +h, z = -h, x = -h, z = +h.
    // z = -h
    quad({{0.25f + e, kThird + e, 1, -1, -1},
          {0.5f - e, kThird + e, -1, -1, -1},
          {0.5f - e, 2 * kThird - e, -1, 1, -1},
          {0.25f + e, 2 * kThird - e, 1, 1, -1}},
         h);
    // x = +h
    quad({{e, kThird + e, 1, -1, 1},
          {0.25f - e, kThird + e, 1, -1, -1},
          {0.25f - e, 2 * kThird - e, 1, 1, -1},
          {e, 2 * kThird - e, 1, 1, 1}},
         h);
    // z = +h
    quad({{0.75f + e, kThird + e, -1, -1, 1},
          {1 - e, kThird + e, 1, -1, 1},
          {1 - e, 2 * kThird - e, 1, 1, 1},
          {0.75f + e, 2 * kThird - e, -1, 1, 1}},
         h);
    // x = -h
    quad({{0.5f + e, kThird + e, -1, -1, -1},
          {0.75f - e, kThird + e, -1, -1, 1},
          {0.75f - e, 2 * kThird - e, -1, 1, 1},
          {0.5f + e, 2 * kThird - e, -1, 1, -1}},
         h);
    // y = +h: its edge at t = 2/3 is the top edge of z = -h, corner for corner; z grows
    // towards t = 1, mirroring how y = -h leaves z = -h towards t = 0.
    quad({{0.5f - e, 2 * kThird + e, -1, 1, -1},
          {0.5f - e, 1 - e, -1, 1, 1},
          {0.25f + e, 1 - e, 1, 1, 1},
          {0.25f + e, 2 * kThird + e, 1, 1, -1}},
         h);
    // y = -h
    quad({{0.5f - e, kThird - e, -1, -1, -1},
          {0.5f - e, e, -1, -1, 1},
          {0.25f + e, e, 1, -1, 1},
          {0.25f + e, kThird - e, 1, -1, -1}},
         h);

    glPopAttrib();
    glPopMatrix();
}
