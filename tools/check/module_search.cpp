#include "module_search.hpp"

#include <cxxabi.h>
#include <elf.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <set>

#include "common/cli_error.hpp"

namespace tandrel::check {

namespace {

namespace fs = std::filesystem;

// A defined symbol of an ELF file, whichever its class.
struct DefinedSymbol {
  const char* name; // terminated within its string table
  std::uint64_t value;
  std::uint64_t size;
  unsigned type; // STT_FUNC, STT_OBJECT, ...
};
using SymbolVisit = std::function<bool(const DefinedSymbol&)>; // true: stop here

// Calls `visit` for each defined symbol of the tables of type `table`
// (SHT_SYMTAB or SHT_DYNSYM) of an ELF file of one class (32 or 64 bits),
// read from its section headers, until it answers true. Answers whether it
// did. Every offset is checked against the file's size.
template <typename Header, typename Section, typename Symbol>
bool visitSymbolsOfClass(const std::vector<char>& file, unsigned table, const SymbolVisit& visit) {
  if (file.size() < sizeof(Header)) return false;
  Header header;
  std::memcpy(&header, file.data(), sizeof header);
  const auto sectionAt = [&](std::size_t index, Section& section) {
    const std::size_t at = header.e_shoff + index * sizeof(Section);
    if (header.e_shentsize != sizeof(Section) || at + sizeof(Section) > file.size()) return false;
    std::memcpy(&section, file.data() + at, sizeof section);
    return true;
  };
  for (std::size_t s = 0; s < header.e_shnum; ++s) {
    Section symbols, names;
    if (!sectionAt(s, symbols) || symbols.sh_type != table || !sectionAt(symbols.sh_link, names)) continue;
    if (symbols.sh_offset + symbols.sh_size > file.size() || names.sh_offset + names.sh_size > file.size())
      return false;
    for (std::size_t at = 0; at + sizeof(Symbol) <= symbols.sh_size; at += sizeof(Symbol)) {
      Symbol symbol;
      std::memcpy(&symbol, file.data() + symbols.sh_offset + at, sizeof symbol);
      if (symbol.st_shndx == SHN_UNDEF || symbol.st_name >= names.sh_size) continue;
      const char* name = file.data() + names.sh_offset + symbol.st_name;
      const std::size_t room = names.sh_size - symbol.st_name;
      if (strnlen(name, room) == room) continue;
      if (visit({name, symbol.st_value, symbol.st_size, static_cast<unsigned>(symbol.st_info & 0xf)}))
        return true;
    }
  }
  return false;
}

bool visitSymbols(const std::vector<char>& file, unsigned table, const SymbolVisit& visit) {
  if (file.size() < EI_NIDENT || std::memcmp(file.data(), ELFMAG, SELFMAG) != 0) return false;
  if (file[EI_CLASS] == ELFCLASS64)
    return visitSymbolsOfClass<Elf64_Ehdr, Elf64_Shdr, Elf64_Sym>(file, table, visit);
  if (file[EI_CLASS] == ELFCLASS32)
    return visitSymbolsOfClass<Elf32_Ehdr, Elf32_Shdr, Elf32_Sym>(file, table, visit);
  return false;
}

std::vector<char> fileBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return {};
  return std::vector<char>((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

bool isModuleCandidate(const fs::path& path) { return path.extension() == ".so"; }

} // namespace

bool exportsEntryPoint(const std::string& path) {
  return visitSymbols(fileBytes(path), SHT_DYNSYM, [](const DefinedSymbol& symbol) {
    return std::strcmp(symbol.name, "VSTPluginMain") == 0 || std::strcmp(symbol.name, "main") == 0;
  });
}

std::string functionAt(const std::string& path, std::uintptr_t offset) {
  const std::vector<char> file = fileBytes(path);
  std::string found;
  const auto contains = [&](const DefinedSymbol& symbol) {
    if (symbol.type != STT_FUNC || offset < symbol.value ||
        offset >= symbol.value + std::max<std::uint64_t>(symbol.size, 1))
      return false;
    int status = 0;
    char* demangled = abi::__cxa_demangle(symbol.name, nullptr, nullptr, &status);
    found = status == 0 && demangled != nullptr ? demangled : symbol.name;
    std::free(demangled);
    char distance[32];
    std::snprintf(distance, sizeof distance, "+0x%zx", static_cast<std::size_t>(offset - symbol.value));
    found += distance;
    return true;
  };
  // The full symbol table where the module keeps one, else the exported names.
  for (const unsigned table : {SHT_SYMTAB, SHT_DYNSYM})
    if (visitSymbols(file, table, contains)) return found;
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
