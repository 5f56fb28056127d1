// A text file written next to the audio of a job (a CSV table, a label
// track): it appears at its path only when its pending file is committed,
// with the audio (JobOutputs::commitWithAudio), and is written through a
// buffer as the job runs, so that its size never weighs on memory.
//
// Thread: [main].
#pragma once

#include <cstdio>
#include <memory>
#include <string>
#include <string_view>

#include "audio_files.hpp"

namespace tandrel::cli {

class PendingText {
public:
  // Creates the temporary file. Throws CliError as PendingFile does.
  explicit PendingText(const std::string& target);

  const std::string& target() const { return file_.target(); }
  // Appends text. Throws CliError when the system refuses (errno set).
  void write(std::string_view text);
  // Writes what is buffered and closes the file; throws CliError on failure
  // (errno set). Call before the pending file is committed.
  void close();
  // The file to commit once closed.
  PendingFile& pending() { return file_; }

private:
  struct Closer {
    void operator()(std::FILE* stream) const { std::fclose(stream); }
  };

  PendingFile file_; // declared first: the stream closes before the file goes
  std::unique_ptr<std::FILE, Closer> stream_;
};

} // namespace tandrel::cli
