// Whether two paths name the same file, as the file system sees it (device
// and inode), whatever the spelling of the paths, links included.
#pragma once

#include <string>
#include <vector>

namespace tandrel::cli {

// True when both paths exist and are the same file.
bool sameFile(const std::string& first, const std::string& second);

// Throws CliError when `output` is the same file as one of `inputs`:
// writing it would destroy that input. `what` names the output in the
// message (e.g. "output", "picture").
void refuseOverwritingInput(const std::string& output, const std::vector<std::string>& inputs,
                            const std::string& what);

} // namespace tandrel::cli
