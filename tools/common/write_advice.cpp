#include "write_advice.hpp"

#include <cerrno>
#include <cstring>

namespace tandrel::cli {

std::string writeAdvice(int cause, const std::string& path, const std::string& what) {
  if (cause == ENOSPC || cause == EDQUOT)
    return "; the disk of '" + path + "' is full (" + std::strerror(cause) +
           "): free some space there or write " + what + " to another disk";
  if (cause == EIO || cause == EROFS)
    return std::string("; the system reports: ") + std::strerror(cause) + "; check the disk, or write " +
           what + " to another one";
  return {};
}

} // namespace tandrel::cli
