#pragma once

#include <SDL/SDL.h>

// Key-listener interface: the Window tells every listener of each key event.
class MVObject {
public:
    virtual void onKey(SDL_KeyboardEvent event);

protected:
    ~MVObject() = default;  // listeners are never deleted through this interface
};
