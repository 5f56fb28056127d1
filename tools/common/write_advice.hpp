// What to tell the user about a file the system refused to write.
#pragma once

#include <string>

namespace tandrel::cli {

// What to do about a file that could not be written, for the causes the
// system explains: a full disk or quota (ENOSPC, EDQUOT), a device error
// (EIO), a read-only file system (EROFS). `cause` is the errno value the
// failure left, 0 when the system gave none; `path` is the file and `what`
// names it in the advice ("the output", "the picture"). Returns "; " and
// the advice, or an empty string for any other cause. [any]
std::string writeAdvice(int cause, const std::string& path, const std::string& what);

} // namespace tandrel::cli
