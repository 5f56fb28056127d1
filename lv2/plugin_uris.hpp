// The URIs of Tandrel's LV2 plug-ins, under the project's own namespace. They
// name the plug-ins in hosts' sessions, so they never change; lv2/tandrel.ttl
// and lv2/manifest.ttl.in spell the same ones.
#pragma once

namespace tandrel::lv2::uri {

#define TANDREL_LV2_URI_BASE "https://tandrel.example/lv2/"
constexpr const char* faithful = TANDREL_LV2_URI_BASE "tandrel";
constexpr const char* sidechainMono = TANDREL_LV2_URI_BASE "sidechain-mono";
constexpr const char* sidechainStereo = TANDREL_LV2_URI_BASE "sidechain-stereo";
#undef TANDREL_LV2_URI_BASE

} // namespace tandrel::lv2::uri
