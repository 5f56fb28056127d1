#include "module_search.hpp"

#include <cxxabi.h>
#include <elf.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <set>

#include "common/cli_error.hpp"

namespace tandrel::check {

namespace {

namespace fs = std::filesystem;

// The entry names in the dynamic symbol table of an ELF file of one class
// (32 or 64 bits), read from its section headers.
template <typename Header, typename Section, typename Symbol>
bool hasEntrySymbol(const std::vector<char>& file) {
  if (file.size() < sizeof(Header)) return false;
  Header header;
  std::memcpy(&header, file.data(), sizeof header);
  const auto sectionAt = [&](std::size_t index, Section& section) {
    const std::size_t offset = header.e_shoff + index * sizeof(Section);
    if (header.e_shentsize != sizeof(Section) || offset + sizeof(Section) > file.size()) return false;
    std::memcpy(&section, file.data() + offset, sizeof section);
    return true;
  };
  for (std::size_t s = 0; s < header.e_shnum; ++s) {
    Section symbols, names;
    if (!sectionAt(s, symbols) || symbols.sh_type != SHT_DYNSYM || !sectionAt(symbols.sh_link, names))
      continue;
    if (symbols.sh_offset + symbols.sh_size > file.size() || names.sh_offset + names.sh_size > file.size())
      return false;
    for (std::size_t offset = 0; offset + sizeof(Symbol) <= symbols.sh_size; offset += sizeof(Symbol)) {
      Symbol symbol;
      std::memcpy(&symbol, file.data() + symbols.sh_offset + offset, sizeof symbol);
      if (symbol.st_shndx == SHN_UNDEF || symbol.st_name >= names.sh_size) continue;
      const char* name = file.data() + names.sh_offset + symbol.st_name;
      const std::size_t room = names.sh_size - symbol.st_name;
      if (strnlen(name, room) < room &&
          (std::strcmp(name, "VSTPluginMain") == 0 || std::strcmp(name, "main") == 0))
        return true;
    }
  }
  return false;
}

template <typename Header, typename Section, typename Symbol>
std::string functionIn(const std::vector<char>& file, std::uintptr_t offset) {
  if (file.size() < sizeof(Header)) return {};
  Header header;
  std::memcpy(&header, file.data(), sizeof header);
  const auto sectionAt = [&](std::size_t index, Section& section) {
    const std::size_t at = header.e_shoff + index * sizeof(Section);
    if (header.e_shentsize != sizeof(Section) || at + sizeof(Section) > file.size()) return false;
    std::memcpy(&section, file.data() + at, sizeof section);
    return true;
  };
  for (const unsigned table : {SHT_SYMTAB, SHT_DYNSYM}) {
    for (std::size_t s = 0; s < header.e_shnum; ++s) {
      Section symbols, names;
      if (!sectionAt(s, symbols) || symbols.sh_type != table || !sectionAt(symbols.sh_link, names)) continue;
      if (symbols.sh_offset + symbols.sh_size > file.size() || names.sh_offset + names.sh_size > file.size())
        return {};
      for (std::size_t at = 0; at + sizeof(Symbol) <= symbols.sh_size; at += sizeof(Symbol)) {
        Symbol symbol;
        std::memcpy(&symbol, file.data() + symbols.sh_offset + at, sizeof symbol);
        if ((symbol.st_info & 0xf) != STT_FUNC || symbol.st_shndx == SHN_UNDEF ||
            symbol.st_name >= names.sh_size || offset < symbol.st_value ||
            offset >= symbol.st_value + std::max<std::uintptr_t>(symbol.st_size, 1))
          continue;
        const char* name = file.data() + names.sh_offset + symbol.st_name;
        if (strnlen(name, names.sh_size - symbol.st_name) == names.sh_size - symbol.st_name) continue;
        int status = 0;
        char* demangled = abi::__cxa_demangle(name, nullptr, nullptr, &status);
        std::string text = status == 0 && demangled != nullptr ? demangled : name;
        std::free(demangled);
        char distance[32];
        std::snprintf(distance, sizeof distance, "+0x%zx",
                      static_cast<std::size_t>(offset - symbol.st_value));
        return text + distance;
      }
    }
  }
  return {};
}

std::vector<char> fileBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return {};
  return std::vector<char>((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

bool isModuleCandidate(const fs::path& path) { return path.extension() == ".so"; }

} // namespace

bool exportsEntryPoint(const std::string& path) {
  const std::vector<char> file = fileBytes(path);
  if (file.size() < EI_NIDENT || std::memcmp(file.data(), ELFMAG, SELFMAG) != 0) return false;
  if (file[EI_CLASS] == ELFCLASS64) return hasEntrySymbol<Elf64_Ehdr, Elf64_Shdr, Elf64_Sym>(file);
  if (file[EI_CLASS] == ELFCLASS32) return hasEntrySymbol<Elf32_Ehdr, Elf32_Shdr, Elf32_Sym>(file);
  return false;
}

std::string functionAt(const std::string& path, std::uintptr_t offset) {
  const std::vector<char> file = fileBytes(path);
  if (file.size() < EI_NIDENT || std::memcmp(file.data(), ELFMAG, SELFMAG) != 0) return {};
  if (file[EI_CLASS] == ELFCLASS64) return functionIn<Elf64_Ehdr, Elf64_Shdr, Elf64_Sym>(file, offset);
  if (file[EI_CLASS] == ELFCLASS32) return functionIn<Elf32_Ehdr, Elf32_Shdr, Elf32_Sym>(file, offset);
  return {};
}

std::vector<std::string> modulesToCheck(const std::vector<std::string>& paths) {
  std::vector<std::string> modules;
  for (const std::string& path : paths) {
    std::error_code error;
    if (fs::is_regular_file(path, error)) {
      modules.push_back(path);
      continue;
    }
    if (!fs::is_directory(path, error)) throw cli::CliError("no module file " + path);
    std::vector<std::string> found;
    std::set<fs::path> seen;
    for (auto entry = fs::recursive_directory_iterator(path,
                                                       fs::directory_options::follow_directory_symlink |
                                                           fs::directory_options::skip_permission_denied,
                                                       error);
         !error && entry != fs::recursive_directory_iterator(); entry.increment(error)) {
      if (!entry->is_regular_file(error) || !isModuleCandidate(entry->path())) continue;
      if (!seen.insert(fs::canonical(entry->path(), error)).second) continue;
      if (exportsEntryPoint(entry->path().string())) found.push_back(entry->path().string());
    }
    if (found.empty()) throw cli::CliError("no module (a .so file with an entry point) under " + path);
    std::sort(found.begin(), found.end());
    modules.insert(modules.end(), found.begin(), found.end());
  }
  return modules;
}

} // namespace tandrel::check
