// Leaks that are not ours: libX11's input-method context keeps copies of its values for the
// life of the display (reached through SDL_Init). Read by LeakSanitizer in sanitizer builds;
// libX11 has no frame pointers, so the library is all a report can be matched by.
extern "C" const char* __lsan_default_suppressions() {
    return "leak:libX11.so\n";
}
