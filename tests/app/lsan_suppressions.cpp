// Read by LeakSanitizer in sanitized builds: fontconfig keeps its caches to
// process exit by design.
extern "C" const char* __lsan_default_suppressions() { return "leak:libfontconfig.so\n"; }
