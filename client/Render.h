#pragma once

#include "Common/Vec3.h"

class Transform;

// Draws object and its subtree, each inside its parent's transform.
void render(Transform* object);
// Scale, then translation, then rotation onto the current OpenGL matrix.
void applyGLTransform(Transform* object);
void translate(Transform* object, const Vec3& v);
// Blue (0, 0, 1) or red (1, 0, 0).
void setTeamColour(bool blueTeam);
