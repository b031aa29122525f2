#pragma once

// One pass of the client, 60 a second on the main thread: input, the received events, the
// controller, the world's update, the chase camera, deferred removals, drawing, buffer swap.
void frame();
