#include "common/config_store.h"

#include "common/runtime.h"
#include "platform/os/ini_file.h"

namespace velarion {

void write_ini_file(const Runtime& rt, const std::string& section, const std::optional<std::string>& key,
                    const std::optional<std::string>& value, const std::string& path) {
    if (ini::write(section, key, value, path)) return;
    if (rt.list.size() > 600) rt.list.clear();
    rt.list.add(" Errore in scrittura nel file " + path);
}

void write_config(const Runtime& rt, const std::string& section, const std::optional<std::string>& key,
                  const std::optional<std::string>& value) {
    write_ini_file(rt, section, key, value, rt.cfg.ini_path());
}

}  // namespace velarion
