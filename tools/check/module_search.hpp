// The modules `tandrel check` is given: files as named, and folders searched
// (links followed) for files that export an entry point ("VSTPluginMain" or
// the older "main"), read from their dynamic symbol tables without loading
// them.
//
// Thread: [main].
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace tandrel::check {

// Whether the file is an ELF shared object or program that exports an entry
// point.
bool exportsEntryPoint(const std::string& path);

// The function of an ELF file that holds the address `offset` (relative to
// where the file is loaded), as "name+0x1c" with C++ names demangled, from
// its full symbol table or else its dynamic one; empty when none does.
std::string functionAt(const std::string& path, std::uintptr_t offset);

// The files named, with each folder replaced by the modules found under it
// (sorted; a file reached through two links once). Throws cli::CliError for
// a path that does not exist and for a folder without modules.
std::vector<std::string> modulesToCheck(const std::vector<std::string>& paths);

} // namespace tandrel::check
