#pragma once

class TestCube;

struct TeamCarriers {
    TestCube* red;
    TestCube* blue;
};

// Creates the two carriers at their teams' spawn positions and adds them to the world.
void setupWorld(TeamCarriers& carriers);
