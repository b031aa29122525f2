#pragma once

#include <string>

#include "Common/Vec3.h"

// The background: a textured cube centred on the eye, its edge as long as the far clipping
// distance. Its image is a 4 x 3 cross: the four sides in the middle row, bottom and top in the
// second column of the first and last rows. Main thread only.
class Skybox {
public:
    // Preloads the texture, so the image is decoded at set-up rather than in the first frame.
    explicit Skybox(std::string textureName);
    // Around the eye, for the far clipping distance the projection uses.
    void draw(Vec3 eye, float farDistance);

    std::string textureName;
};
