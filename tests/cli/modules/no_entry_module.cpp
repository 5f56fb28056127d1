// A loadable module that exports a function but no effect entry point.
extern "C" __attribute__((visibility("default"))) int tandrelTestUnrelatedFunction() { return 0; }
