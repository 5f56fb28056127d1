#include <CLI/CLI.hpp>
#include <fmt/format.h>

#include <cstdint>
#include <cstdio>
#include <iomanip>
#include <iostream>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "common/command.hpp"
#include "common/commands.hpp"
#include "common/json_text.hpp"
#include "common/loaded_effect.hpp"
#include "common/module_argument.hpp"
#include "common/option_declaration.hpp"

namespace tandrel::cli::info {

namespace {

struct InfoOptions : ModuleChoice {
  bool json = false;
};

constexpr double infoSampleRate = 48000.0;
constexpr int infoBlockSize = 512;

// The bits of the flags word a host reads, with their meaning.
const std::vector<std::pair<std::int32_t, const char*>>& flagNames() {
  static const std::vector<std::pair<std::int32_t, const char*>> names{
      {flag::editor, "editor"},
      {flag::clipIndicator, "clip indicator"},
      {flag::vuIndicator, "VU indicator"},
      {flag::monoCapable, "mono capable"},
      {flag::replacingProcess, "replacing process"},
      {flag::programsAsChunks, "programs as chunks"},
      {flag::instrument, "instrument"},
      {flag::silentWhenStopped, "silent when stopped"},
      {flag::asynchronousProcessing, "asynchronous processing"},
      {flag::externalBuffer, "external buffer"},
      {flag::replacing64, "64-bit replacing"},
  };
  return names;
}

std::vector<std::string> flagList(std::int32_t flags) {
  std::vector<std::string> words;
  auto rest = static_cast<std::uint32_t>(flags);
  for (const auto& [bit, name] : flagNames()) {
    if ((rest & static_cast<std::uint32_t>(bit)) == 0) continue;
    words.emplace_back(name);
    rest &= ~static_cast<std::uint32_t>(bit);
  }
  for (std::uint32_t bit = 1; bit != 0; bit <<= 1) {
    if ((rest & bit) == 0) continue;
    words.push_back(fmt::format("{:#x}", bit));
  }
  return words;
}

std::string categoryWords(std::int64_t category) {
  if (category == effectCategory::unspecified) return "not specified";
  if (category == effectCategory::instrument) return "instrument";
  return "";
}

std::string hex(std::int32_t value) { return fmt::format("{:#x}", static_cast<std::uint32_t>(value)); }

// The flags word in words, e.g. "replacing process, programs as chunks";
// unnamed bits as hexadecimal numbers.
std::string flagWords(std::int32_t flags) {
  std::string text;
  for (const std::string& word : flagList(flags))
    text += (text.empty() ? "" : ", ") + word;
  return text.empty() ? "none" : text;
}

// The unique identifier's four characters, first from the most significant
// byte; bytes outside printable ASCII as \xNN.
std::string identifierCharacters(std::int32_t identifier) {
  std::string text;
  for (int shift = 24; shift >= 0; shift -= 8) {
    const auto byte = static_cast<unsigned char>(static_cast<std::uint32_t>(identifier) >> shift);
    if (byte >= 0x20 && byte < 0x7f) {
      text.push_back(static_cast<char>(byte));
    } else {
      text += fmt::format("\\x{:02x}", byte);
    }
  }
  return text;
}

void printInfoText(const EffectInfo& info, std::ostream& out) {
  const auto row = [&out](const char* what, const std::string& value) {
    out << std::left << std::setw(20) << what << value << '\n';
  };
  row("Module:", info.modulePath);
  row("Effect name:", info.effectName);
  row("Vendor:", info.vendor);
  row("Product:", info.product);
  row("Vendor version:", std::to_string(info.vendorVersion));
  row("Unique identifier:",
      identifierCharacters(info.uniqueIdentifier) + " (" + std::to_string(info.uniqueIdentifier) + ")");
  row("Inputs:", std::to_string(info.inputs));
  row("Outputs:", std::to_string(info.outputs));
  row("Initial delay:", std::to_string(info.initialDelay) + " samples");
  row("Flags:", hex(info.flags) + " (" + flagWords(info.flags) + ")");
  const std::string category = categoryWords(info.category);
  row("Category:", std::to_string(info.category) + (category.empty() ? "" : " (" + category + ")"));
  row("Interface version:", std::to_string(info.interfaceVersion));
  row("Program:", quoteJson(info.programName));
  row("Parameters:", std::to_string(info.parameters.size()));
  if (info.parameters.empty()) return;

  // Texts are quoted so that their blanks show.
  struct Cells {
    std::string index, name, label, value, display;
  };
  std::vector<Cells> cells{{"index", "name", "label", "value", "display"}};
  for (const ParameterInfo& p : info.parameters)
    cells.push_back({std::to_string(p.index), quoteJson(p.name), quoteJson(p.label), formatFloat(p.value),
                     quoteJson(p.display)});
  std::size_t widths[4] = {0, 0, 0, 0};
  for (const Cells& c : cells) {
    widths[0] = std::max(widths[0], c.index.size());
    widths[1] = std::max(widths[1], c.name.size());
    widths[2] = std::max(widths[2], c.label.size());
    widths[3] = std::max(widths[3], c.value.size());
  }
  for (const Cells& c : cells) {
    out << "  " << std::left << std::setw(static_cast<int>(widths[0])) << c.index << "  "
        << std::setw(static_cast<int>(widths[1])) << c.name << "  " << std::setw(static_cast<int>(widths[2]))
        << c.label << "  " << std::setw(static_cast<int>(widths[3])) << c.value << "  " << c.display << '\n';
  }
}

void printInfoJson(const EffectInfo& info, std::ostream& out) {
  Json flagNameList = Json::array();
  for (const std::string& word : flagList(info.flags))
    flagNameList.push_back(word);
  Json parameters = Json::array();
  for (const ParameterInfo& p : info.parameters)
    parameters.push_back({{"index", p.index},
                          {"name", p.name},
                          {"label", p.label},
                          {"value", jsonNumber(p.value)},
                          {"display", p.display}});
  const Json document = {
      {"module", info.modulePath},
      {"effectName", info.effectName},
      {"vendor", info.vendor},
      {"product", info.product},
      {"vendorVersion", info.vendorVersion},
      {"uniqueIdentifier",
       {{"characters", identifierCharacters(info.uniqueIdentifier)}, {"number", info.uniqueIdentifier}}},
      {"inputs", info.inputs},
      {"outputs", info.outputs},
      {"initialDelay", info.initialDelay},
      {"flags", {{"value", info.flags}, {"names", flagNameList}}},
      {"category", info.category},
      {"interfaceVersion", info.interfaceVersion},
      {"programName", info.programName},
      {"parameters", parameters},
  };
  out << documentText(document) << '\n';
}

// Loads the module, opens one instance at 48000 Hz with blocks of 512,
// prints what it reports and closes it. Throws CliError.
int runInfo(const InfoOptions& options) {
  const auto effect = LoadedEffect::load(options.chosenModulePath());
  effect->prepare(infoSampleRate, infoBlockSize);
  const EffectInfo info = effect->describe();
  if (options.json)
    printInfoJson(info, std::cout);
  else
    printInfoText(info, std::cout);
  std::cout.flush();
  return 0;
}

// Each of info's options, declared once (the module argument in
// common/module_argument.hpp).
constexpr PlainOption<InfoOptions, bool> jsonFlag{"--json", &InfoOptions::json, "Print JSON instead of text"};

} // namespace

void add(CLI::App& app) {
  auto options = std::make_shared<InfoOptions>();
  CLI::App* info = app.add_subcommand("info", "Show what a host learns about an effect module");
  addOption(*info, moduleArgument, *options);
  addFlag(*info, jsonFlag, *options);
  info->callback([options] { runCommand([&] { return runInfo(*options); }, Interruptible::no); });
}

} // namespace tandrel::cli::info
