#include "startup/config_store.h"

#include "platform/ini_file.h"
#include "startup/context.h"

namespace velarion {

std::string read_config(const Context& ctx, const std::string& section, const std::string& key,
                        const std::string& def) {
    return ini::read(section, key, def, ctx.ini_path());
}

void write_ini_file(Context& ctx, const std::string& section, const std::optional<std::string>& key,
                    const std::optional<std::string>& value, const std::string& path) {
    if (ini::write(section, key, value, path)) return;
    if (ctx.list.size() > 600) ctx.list.clear();
    ctx.list.add(" Errore in scrittura nel file " + path);
}

void write_config(Context& ctx, const std::string& section, const std::optional<std::string>& key,
                  const std::optional<std::string>& value) {
    write_ini_file(ctx, section, key, value, ctx.ini_path());
}

}  // namespace velarion
