// The configuration store: velarion.ini in the configuration directory.
// Reading is the loader of the settings (common/settings.h); writing is here,
// after which the settings are loaded again.
#pragma once

#include <optional>
#include <string>

#include "common/settings.h"

namespace velarion {

struct Runtime;

// Writes (or deletes) an entry; a failure becomes the line
// " Errore in scrittura nel file " in the activity list.
void write_config(const Runtime& rt, const std::string& section, const std::optional<std::string>& key,
                  const std::optional<std::string>& value);

// Writes to another INI file (loghi.ini) with the same failure line.
void write_ini_file(const Runtime& rt, const std::string& section, const std::optional<std::string>& key,
                    const std::optional<std::string>& value, const std::string& path);

}  // namespace velarion
