#pragma once

#include "Common/Vec3.h"

// Euclidean distance in single precision; what the send rule measures.
float distance(const Vec3& a, const Vec3& b);
