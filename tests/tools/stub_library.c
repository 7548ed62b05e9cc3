/* A loadable library that exports none of the checking functions. */
int stub_library_marker(void) { return 42; }
