// A module whose entry point refuses to create an effect: it answers null.
extern "C" __attribute__((visibility("default"))) void* VSTPluginMain(void*) { return nullptr; }
