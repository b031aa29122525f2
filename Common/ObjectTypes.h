#pragma once
// The object types, as Transform::objectType files an object in the world and as the schema's
// objectType carries it. Only players and projectiles travel: each side places the carriers
// itself, and explosions are the client's own.

#include <cstdint>

constexpr std::int32_t kNoType = -1;  // not filed under any type (the world root)
constexpr std::int32_t kPlayerType = 0;
constexpr std::int32_t kProjectileType = 1;
constexpr std::int32_t kExplosionType = 2;
constexpr std::int32_t kCarrierType = 3;
