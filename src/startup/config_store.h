// The configuration store: velarion.ini in the configuration directory.
#pragma once

#include <optional>
#include <string>

namespace velarion {

struct Context;

// Reads section/key of velarion.ini; def when absent.
std::string read_config(const Context& ctx, const std::string& section, const std::string& key,
                        const std::string& def = "");

// Writes (or deletes) an entry; a failure becomes the line
// " Errore in scrittura nel file " in the activity list.
void write_config(Context& ctx, const std::string& section, const std::optional<std::string>& key,
                  const std::optional<std::string>& value);

// Writes to another INI file (loghi.ini) with the same failure line.
void write_ini_file(Context& ctx, const std::string& section, const std::optional<std::string>& key,
                    const std::optional<std::string>& value, const std::string& path);

}  // namespace velarion
