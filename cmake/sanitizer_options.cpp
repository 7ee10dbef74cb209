// Sanitizer defaults for the test programs of the sanitizer build. A failed
// allocation must reach the program's own report (FatalError code 0), so the
// sanitizer allocator returns null instead of aborting.
extern "C" const char* __asan_default_options();
extern "C" const char* __ubsan_default_options();

extern "C" const char* __asan_default_options() {
  return "allocator_may_return_null=1:detect_leaks=1";
}
extern "C" const char* __ubsan_default_options() { return "print_stacktrace=1:halt_on_error=1"; }
