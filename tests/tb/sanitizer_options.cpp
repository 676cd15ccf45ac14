// Sanitizer defaults for the toolbox tests: the heap-exhaustion cases need
// malloc to return null instead of AddressSanitizer aborting the test.
// Without the sanitizer nothing calls this.
extern "C" __attribute__((visibility("default"), used)) const char* __asan_default_options()
{
    return "allocator_may_return_null=1";
}
