#pragma once

#include <cstdint>

#include "Common/Transform.h"

// An explosion: a textured square facing the camera as it stood when the explosion was made.
// It removes itself after one second. Exists only in the client.
class Billboard : public Transform {
public:
    explicit Billboard(std::uint64_t id);

    void draw() override;
    void update(float dt) override;

    float lifetime;
};
