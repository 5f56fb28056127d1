#include "same_file.hpp"

#include <sys/stat.h>

#include "cli_error.hpp"

namespace tandrel::cli {

bool sameFile(const std::string& first, const std::string& second) {
  struct stat a {};
  struct stat b {};
  if (stat(first.c_str(), &a) != 0 || stat(second.c_str(), &b) != 0) return false;
  return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

void refuseOverwritingInput(const std::string& output, const std::vector<std::string>& inputs,
                            const std::string& what) {
  for (const std::string& input : inputs)
    if (sameFile(output, input))
      throw CliError("the " + what + " '" + output + "' is the input file '" + input +
                     "'; writing it would destroy the input, so give another name");
}

} // namespace tandrel::cli
