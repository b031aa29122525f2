#pragma once

class MVEntryPoint;

// The frame's 2-D pass: pixel coordinates with the origin at the window's top-left corner and y
// growing downwards, lighting off, blending on, opaque red, then the controller's HUD. The
// projection and enable state are given back afterwards.
void drawHudPass(MVEntryPoint* controller);
