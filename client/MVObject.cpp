#include "client/MVObject.h"

void MVObject::onKey(SDL_KeyboardEvent) {}
