#include "client/ClientExit.h"

#include <cstdio>
#include <cstdlib>
#include <iostream>

void clientExit(int status) {
    std::cout.flush();
    std::cerr.flush();
    std::fflush(nullptr);
    std::_Exit(status);
}
