#include "check_reports.hpp"

#include <algorithm>
#include <cstdio>
#include <iomanip>
#include <ostream>

namespace tandrel::check {

namespace {

std::size_t countOf(const ModuleRun& run, Verdict verdict) {
  return static_cast<std::size_t>(
      std::count_if(run.reports.begin(), run.reports.end(),
                    [verdict](const CheckReport& r) { return r.outcome.verdict == verdict; }));
}

std::string secondsText(double seconds) {
  char text[32];
  std::snprintf(text, sizeof text, "%.3f", seconds);
  return text;
}

// The length of the valid UTF-8 sequence at `at`, or 0.
std::size_t utf8Length(const std::string& text, std::size_t at) {
  const auto lead = static_cast<unsigned char>(text[at]);
  const std::size_t length = lead < 0x80           ? 1
                             : (lead >> 5) == 0x6  ? 2
                             : (lead >> 4) == 0xe  ? 3
                             : (lead >> 3) == 0x1e ? 4
                                                   : 0;
  if (length == 0 || at + length > text.size()) return 0;
  for (std::size_t i = 1; i < length; ++i)
    if ((static_cast<unsigned char>(text[at + i]) & 0xc0) != 0x80) return 0;
  return length;
}

} // namespace

bool ModuleRun::failed() const { return countOf(*this, Verdict::fail) > 0; }

std::string xmlText(const std::string& text) {
  std::string escaped;
  for (std::size_t i = 0; i < text.size();) {
    const char c = text[i];
    switch (c) {
    case '&':
      escaped += "&amp;";
      break;
    case '<':
      escaped += "&lt;";
      break;
    case '>':
      escaped += "&gt;";
      break;
    case '"':
      escaped += "&quot;";
      break;
    default: {
      const std::size_t length = utf8Length(text, i);
      const auto byte = static_cast<unsigned char>(c);
      if (length == 0 || (byte < 0x20 && c != '\n' && c != '\t') || byte == 0x7f) {
        escaped += '?';
        ++i;
        continue;
      }
      escaped.append(text, i, length);
      i += length;
      continue;
    }
    }
    ++i;
  }
  return escaped;
}

void printSummaryTable(const std::vector<ModuleRun>& runs, std::ostream& out) {
  std::size_t width = 6;
  for (const ModuleRun& run : runs)
    width = std::max(width, run.path.size());
  out << "\nSummary\n  " << std::left << std::setw(static_cast<int>(width)) << "Module"
      << "  pass  skip  warn  fail  seconds\n";
  std::size_t failedModules = 0;
  double seconds = 0.0;
  for (const ModuleRun& run : runs) {
    out << "  " << std::left << std::setw(static_cast<int>(width)) << run.path << std::right << "  "
        << std::setw(4) << countOf(run, Verdict::pass) << "  " << std::setw(4) << countOf(run, Verdict::skip)
        << "  " << std::setw(4) << countOf(run, Verdict::warn) << "  " << std::setw(4)
        << countOf(run, Verdict::fail) << "  " << std::setw(7) << std::fixed << std::setprecision(1)
        << run.seconds << '\n';
    failedModules += run.failed() ? 1 : 0;
    seconds += run.seconds;
  }
  out << runs.size() << " modules: " << failedModules << " failed, " << runs.size() - failedModules
      << " passed (" << std::fixed << std::setprecision(1) << seconds << " s)\n";
  out.unsetf(std::ios::floatfield);
}

void printJUnit(const std::vector<ModuleRun>& runs, std::uint32_t seed, std::ostream& out) {
  std::size_t tests = 0, failures = 0, skips = 0;
  double seconds = 0.0;
  for (const ModuleRun& run : runs) {
    tests += run.reports.size();
    failures += countOf(run, Verdict::fail);
    skips += countOf(run, Verdict::skip);
    seconds += run.seconds;
  }
  out << "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
      << "<testsuites name=\"tandrel check\" tests=\"" << tests << "\" failures=\"" << failures
      << "\" errors=\"0\" skipped=\"" << skips << "\" time=\"" << secondsText(seconds) << "\">\n";
  for (const ModuleRun& run : runs) {
    out << "  <testsuite name=\"" << xmlText(run.path) << "\" tests=\"" << run.reports.size()
        << "\" failures=\"" << countOf(run, Verdict::fail) << "\" errors=\"0\" skipped=\""
        << countOf(run, Verdict::skip) << "\" time=\"" << secondsText(run.seconds) << "\">\n"
        << "    <properties><property name=\"seed\" value=\"" << seed << "\"/></properties>\n";
    for (const CheckReport& report : run.reports) {
      out << "    <testcase classname=\"" << xmlText(run.path) << "\" name=\"" << xmlText(report.name)
          << "\" time=\"" << secondsText(report.seconds) << "\">";
      const std::string detail = xmlText(report.outcome.detail);
      switch (report.outcome.verdict) {
      case Verdict::fail:
        out << "\n      <failure message=\"" << detail << "\">" << detail << "</failure>\n    ";
        break;
      case Verdict::skip:
        out << "\n      <skipped message=\"" << detail << "\"/>\n    ";
        break;
      case Verdict::warn:
        out << "\n      <system-out>warn: " << detail << "</system-out>\n    ";
        break;
      case Verdict::pass:
        out << "\n      <system-out>pass: " << detail << "</system-out>\n    ";
        break;
      }
      out << "</testcase>\n";
    }
    out << "  </testsuite>\n";
  }
  out << "</testsuites>\n";
}

} // namespace tandrel::check
