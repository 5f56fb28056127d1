#include "module_locator.hpp"

#include <filesystem>
#include <system_error>

#include "cli_error.hpp"

namespace tandrel::cli {

namespace fs = std::filesystem;

namespace {
constexpr const char* moduleFileName = "tandrel.so";

// The directory of the running executable, or empty if the system does not
// say (no /proc).
fs::path executableDirectory() {
  std::error_code error;
  const fs::path self = fs::read_symlink("/proc/self/exe", error);
  return error ? fs::path() : self.parent_path();
}
} // namespace

std::vector<std::string> defaultModuleCandidates() {
  std::vector<std::string> candidates;
  const fs::path here = executableDirectory();
  if (!here.empty()) {
    candidates.push_back((here / moduleFileName).string());
    candidates.push_back((here.parent_path() / moduleFileName).string());
    candidates.push_back((here.parent_path() / "lib" / "lxvst" / moduleFileName).string());
  }
#ifdef TANDREL_BUILT_MODULE_PATH
  candidates.emplace_back(TANDREL_BUILT_MODULE_PATH);
#endif
  return candidates;
}

std::string defaultModulePath() {
  const std::vector<std::string> candidates = defaultModuleCandidates();
  std::string looked;
  for (const std::string& candidate : candidates) {
    std::error_code error;
    if (fs::is_regular_file(candidate, error)) return candidate;
    looked += (looked.empty() ? "" : ", ") + candidate;
  }
  throw CliError("no module was given and " + std::string(moduleFileName) + " was not found (looked at " +
                 looked + "); build it or pass the module's path");
}

} // namespace tandrel::cli
