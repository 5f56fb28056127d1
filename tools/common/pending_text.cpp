#include "pending_text.hpp"

#include <cerrno>
#include <cstring>

#include "cli_error.hpp"

namespace tandrel::cli {

namespace {

[[noreturn]] void cannotWrite(const std::string& target) {
  const int cause = errno;
  const std::string reason = std::strerror(cause);
  errno = cause;
  throw CliError("cannot write '" + target + "': " + reason);
}

} // namespace

PendingText::PendingText(const std::string& target)
    : file_(target), stream_(std::fopen(file_.temporaryPath().c_str(), "w")) {
  if (!stream_) cannotWrite(target);
}

void PendingText::write(std::string_view text) {
  if (!stream_ || std::fwrite(text.data(), 1, text.size(), stream_.get()) != text.size())
    cannotWrite(target());
}

void PendingText::close() {
  std::FILE* stream = stream_.release();
  if (stream != nullptr && std::fclose(stream) != 0) cannotWrite(target());
}

} // namespace tandrel::cli
