// A command-line option declared once: its spelling, the field of the
// command's options it fills, its help text and, for a number, its range and
// unit. The declaration feeds the option's registration with CLI11, the
// validator that refuses a value outside the range while the command line is
// parsed (a usage error, exit status 2, naming the option), and the texts
// that show or check a value (summaries, subtitles, errors).
//
// Example: a command `fade` with a ranged number, a path and a flag.
//
//   struct FadeOptions {
//     double lengthMs = 10.0;
//     std::string output;
//     bool quiet = false;
//   };
//
//   constexpr RangedOption<FadeOptions, double> fadeLength{
//       "-l,--length", &FadeOptions::lengthMs, 0.0, 5000.0, "ms", "Length of the fade"};
//   constexpr PlainOption<FadeOptions, std::string> fadeOutput{"-o,--output", &FadeOptions::output,
//                                                              "Output file"};
//   constexpr PlainOption<FadeOptions, bool> fadeQuiet{"-q,--quiet", &FadeOptions::quiet, "No summary"};
//
//   void add(CLI::App& app) {
//     auto options = std::make_shared<FadeOptions>();
//     CLI::App* fade = app.add_subcommand("fade", "Fade a file in");
//     addOption(*fade, fadeLength, *options)->capture_default_str();
//     addOption(*fade, fadeOutput, *options)->required();
//     addFlag(*fade, fadeQuiet, *options);
//     fade->callback([options] { runCommand([&] { return runFade(*options); }, Interruptible::yes); });
//   }
//
// `tandrel fade -l 6000` then exits 2 with
//   "tandrel: --length: 6000 is outside 0 to 5000 ms (see tandrel fade --help)",
// and a value that did not come from the command line (a built-in job, a
// test) is checked with checkOption(fadeLength, options), which throws the
// same words as a UsageError. valueText(fadeLength, 10.0) gives "10 ms" for a
// summary. A field inside a nested struct is declared with that struct as
// the owner and registered with the nested object:
//   addOption(*fade, presenceThreshold, options->shape.presence).
//
// Thread: [main].
#pragma once

#include <CLI/CLI.hpp>

#include <string>
#include <string_view>
#include <type_traits>

#include "cli_error.hpp"

namespace tandrel::cli {

// An option whose every value of its type is accepted (a path, a flag, a
// list). `names` are CLI11's spelling, short names first: "-o,--output".
template <typename Owner, typename Value> struct PlainOption {
  const char* names;
  Value Owner::*field;
  const char* help;
};

// A number from `low` to `high` (both included) in `unit` ("dB", "ms",
// "frames"; empty for none). A whole-number option (integral Value) also
// refuses fractions.
template <typename Owner, typename Value> struct RangedOption {
  static_assert(std::is_arithmetic_v<Value>, "a ranged option holds a number");
  const char* names;
  Value Owner::*field;
  Value low;
  Value high;
  const char* unit;
  const char* help;
};

namespace option_text {

// The spelling used in texts: the last (longest) of the names, "--output".
std::string spelling(std::string_view names);
// A number as the tool writes it in texts, the shortest that reads back
// the same: "12", "0.5", "-40", "1048576".
std::string number(double value);
// "0 to 100 dB", "1 to 1048576".
std::string range(double low, double high, std::string_view unit);
// Why `text` is refused, or "" when it is a whole number within the range:
// "'0' is not a whole number of frames from 1 to 1048576".
std::string wholeNumberProblem(const std::string& text, long long low, long long high, std::string_view unit);
// Why `text` is refused, or "" when it is a number within the range:
// "-3 is outside 0 to 100 dB", "'abc' is not a number; give one from 0 to 100 dB".
std::string numberProblem(const std::string& text, double low, double high, std::string_view unit);
// Why `value` is refused, or "" when it is within the range (NaN is not).
std::string valueProblem(double value, double low, double high, std::string_view unit);

} // namespace option_text

// The range in the option's words: "0 to 100 dB".
template <typename Owner, typename Value> std::string rangeText(const RangedOption<Owner, Value>& option) {
  return option_text::range(static_cast<double>(option.low), static_cast<double>(option.high), option.unit);
}

// A value with its unit, for summaries and subtitles: "12 dB".
template <typename Owner, typename Value>
std::string valueText(const RangedOption<Owner, Value>& option, Value value) {
  const std::string text = option_text::number(static_cast<double>(value));
  return *option.unit == '\0' ? text : text + " " + option.unit;
}

// The validator that refuses a command-line value outside the option's
// range; CLI11 prefixes its words with the option's name.
template <typename Owner, typename Value>
CLI::Validator rangeValidator(const RangedOption<Owner, Value>& option) {
  const std::string unit = option.unit;
  const auto low = option.low;
  const auto high = option.high;
  return CLI::Validator(
      [unit, low, high](std::string& text) {
        if constexpr (std::is_integral_v<Value>)
          return option_text::wholeNumberProblem(text, low, high, unit);
        else
          return option_text::numberProblem(text, low, high, unit);
      },
      rangeText(option));
}

// Registers the option with its range check; the caller adds what only the
// command knows (->required(), ->capture_default_str()). `owner` may be of a
// type derived from the declaration's owner (a command's options that derive
// from a shared part, as ModuleChoice).
template <typename Owner, typename Value>
CLI::Option* addOption(CLI::App& command, const RangedOption<Owner, Value>& option,
                       std::type_identity_t<Owner>& owner) {
  return command.add_option(option.names, owner.*option.field, option.help)->check(rangeValidator(option));
}

template <typename Owner, typename Value>
CLI::Option* addOption(CLI::App& command, const PlainOption<Owner, Value>& option,
                       std::type_identity_t<Owner>& owner) {
  return command.add_option(option.names, owner.*option.field, option.help);
}

template <typename Owner>
CLI::Option* addFlag(CLI::App& command, const PlainOption<Owner, bool>& option,
                     std::type_identity_t<Owner>& owner) {
  return command.add_flag(option.names, owner.*option.field, option.help);
}

// Checks a value that did not pass the command line's validator (a job
// built in code). Throws UsageError "--depth -3 is outside 0 to 100 dB".
template <typename Owner, typename Value>
void checkOption(const RangedOption<Owner, Value>& option, const Owner& owner) {
  const std::string problem =
      option_text::valueProblem(static_cast<double>(owner.*option.field), static_cast<double>(option.low),
                                static_cast<double>(option.high), option.unit);
  if (!problem.empty()) throw UsageError(option_text::spelling(option.names) + " " + problem);
}

} // namespace tandrel::cli
