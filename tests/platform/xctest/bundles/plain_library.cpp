// An ordinary library, not a test bundle.
extern "C" int xctest_plain_library_value() { return 7; }
