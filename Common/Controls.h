#pragma once
// The bits of a ClientUpdate's boostersOn: the controls the pilot holds down. The server turns
// them into thrust in the ship's own frame, forward along +z, up along +y; the pilot's left is
// +x. Every other bit is 0.

#include <cstdint>

namespace controls {

constexpr std::uint32_t kForward = 0x1;
constexpr std::uint32_t kBack = 0x2;
constexpr std::uint32_t kRight = 0x4;
constexpr std::uint32_t kLeft = 0x8;
constexpr std::uint32_t kUp = 0x10;
constexpr std::uint32_t kDown = 0x20;
constexpr std::uint32_t kFire = 0x40000000;

constexpr std::uint32_t kAllThrust = kForward | kBack | kRight | kLeft | kUp | kDown;

}  // namespace controls
