// Defect: each instance writes a settings file into the current directory.
#include <cstdio>

#include "check_test_effect.hpp"

namespace {
class FileWriter : public check_test::CheckTestEffect {
public:
  explicit FileWriter(tandrel::HostCallback callback) : CheckTestEffect(callback) {
    if (std::FILE* file = std::fopen("file_writer_settings.txt", "w")) {
      std::fputs("written by file_writer\n", file);
      std::fclose(file);
    }
  }
};
} // namespace

CHECK_TEST_MODULE(FileWriter)
