#pragma once

// The one way the client ends the process from a message handler or the network thread.
// Console output written so far is flushed, then the process ends at once: no static
// destructors and no atexit handlers run, so nothing the main thread may still be drawing
// with (the window, its skybox, the GL context) is torn down under it.
[[noreturn]] void clientExit(int status);
