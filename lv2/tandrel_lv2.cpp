// The C boundary of the LV2 bundle: the one exported function,
// lv2_descriptor, and the descriptors it hands out. Everything behind it is
// ordinary C++ (lv2/ducking_plugins.hpp).
//
// A host finds the plug-ins through the bundle's manifest.ttl, loads this
// shared object and asks lv2_descriptor for index 0, 1, 2, ... until it
// answers null; each descriptor's URI matches a plug-in of tandrel.ttl.

#include <lv2/core/lv2.h>

#include "ducking_plugins.hpp"
#include "plugin_uris.hpp"

namespace tandrel::lv2 {

namespace {

// The descriptor's functions for one plug-in class. Each checks the handle
// it gets, so a host's null handle does nothing instead of crashing.
template <class Plugin> struct Boundary {
  // The sample rate does not matter: Tandrel works in frames (blocks of
  // 128, a latency of 256) at any rate. No host features are needed. [main]
  static LV2_Handle instantiate(const LV2_Descriptor* /*descriptor*/, double /*rate*/, const char* /*bundle*/,
                                const LV2_Feature* const* /*features*/) {
    return Plugin::create();
  }

  // The buffer a port reads or writes from now on; null disconnects it.
  // Stores a pointer only. [audio] or [main], not during run
  static void connectPort(LV2_Handle handle, uint32_t port, void* data) {
    if (handle != nullptr) static_cast<Plugin*>(handle)->connectPort(port, data);
  }

  // Starts clean: silent delay lines and the block state of a new
  // instance. [main]
  static void activate(LV2_Handle handle) {
    if (handle != nullptr) static_cast<Plugin*>(handle)->activate();
  }

  // Processes the connected buffers; never allocates, locks or blocks. [audio]
  static void run(LV2_Handle handle, uint32_t frames) {
    if (handle != nullptr) static_cast<Plugin*>(handle)->run(frames);
  }

  // Nothing to release: the state stays allocated until cleanup, and the
  // next activate starts it clean. [main]
  static void deactivate(LV2_Handle /*handle*/) {}

  // Frees everything instantiate allocated. [main]
  static void cleanup(LV2_Handle handle) { delete static_cast<Plugin*>(handle); }
};

template <class Plugin> constexpr LV2_Descriptor describe(const char* uri) {
  using B = Boundary<Plugin>;
  return {uri, B::instantiate, B::connectPort, B::activate, B::run, B::deactivate, B::cleanup, nullptr};
}

const LV2_Descriptor descriptors[] = {
    describe<FaithfulPlugin>(uri::faithful),
    describe<SidechainMonoPlugin>(uri::sidechainMono),
    describe<SidechainStereoPlugin>(uri::sidechainStereo),
};

} // namespace

} // namespace tandrel::lv2

// The bundle's only export. [main]
LV2_SYMBOL_EXPORT const LV2_Descriptor* lv2_descriptor(uint32_t index) {
  constexpr uint32_t count = sizeof tandrel::lv2::descriptors / sizeof tandrel::lv2::descriptors[0];
  return index < count ? &tandrel::lv2::descriptors[index] : nullptr;
}
