// Read by LeakSanitizer in sanitized builds: fontconfig keeps its caches to
// process exit by design, and so does libdbus the session-bus connection
// that Qt's xcb platform opens.
extern "C" const char* __lsan_default_suppressions() {
  return "leak:libfontconfig.so\n"
         "leak:libdbus-1.so\n";
}
