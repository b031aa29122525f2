#pragma once

class PacketHandler;

// The tick clock at the previous tick, in seconds.
extern double lastTickSeconds;
// The server's one PacketHandler; set by main before the tick is registered.
extern PacketHandler* packetHandler;

// One server step (30 per second): events, collisions, world update, sends, removals, rates,
// console commands.
void serverTick();

// Seconds from last to now, two tick-clock readings in seconds. The clock is a 32-bit
// millisecond count, so a reading below the last one means it wrapped in between.
double tickTimeStep(double nowSeconds, double lastSeconds);
