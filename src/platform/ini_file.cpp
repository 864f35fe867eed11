#include "platform/ini_file.h"

// Windows-1252 bytes pass through unchanged: no wide-character conversion.
#define SI_NO_CONVERSION
#define SI_IMPLEMENTATION  // Debian ships the template bodies behind this switch
#include <SimpleIni.h>

#include <filesystem>
#include <system_error>

namespace velarion::ini {

namespace {
constexpr std::size_t kValueLimit = 1023;  // buffer of 1024 with its NUL
constexpr std::size_t kKeyListLimit = 4094;  // buffer of 4096 less the two closing NULs

using Ini = CSimpleIniA;  // names compared without case

bool load(Ini& ini, const std::string& path) {
    ini.SetUnicode(false);
    ini.SetMultiKey(false);
    return ini.LoadFile(path.c_str()) >= 0;
}
}  // namespace

std::string read(const std::string& section, const std::string& key, const std::string& def,
                 const std::string& path) {
    Ini ini;
    if (!load(ini, path)) return def.substr(0, kValueLimit);
    const char* v = ini.GetValue(section.c_str(), key.c_str(), nullptr);
    std::string out = v ? std::string(v) : def;
    if (out.size() > kValueLimit) out.resize(kValueLimit);
    return out;
}

std::vector<std::string> key_names(const std::string& section, const std::string& path) {
    Ini ini;
    std::vector<std::string> out;
    if (!load(ini, path)) return out;
    Ini::TNamesDepend keys;
    if (!ini.GetAllKeys(section.c_str(), keys)) return out;
    keys.sort(Ini::Entry::LoadOrder());
    for (const auto& k : keys) out.emplace_back(k.pItem);
    return out;
}

std::vector<std::pair<std::string, std::string>> read_section(const std::string& section,
                                                              const std::string& path) {
    Ini ini;
    std::vector<std::pair<std::string, std::string>> out;
    if (!load(ini, path)) return out;
    Ini::TNamesDepend keys;
    if (!ini.GetAllKeys(section.c_str(), keys)) return out;
    keys.sort(Ini::Entry::LoadOrder());
    for (const auto& k : keys) {
        std::string v = ini.GetValue(section.c_str(), k.pItem, "");
        if (v.size() > kValueLimit) v.resize(kValueLimit);
        out.emplace_back(k.pItem, std::move(v));
    }
    return out;
}

std::string read_keys(const std::string& section, const std::string& path) {
    std::string out;
    for (const auto& k : key_names(section, path)) {
        if (out.size() + k.size() + 1 > kKeyListLimit) break;
        out += k;
        out.push_back('\0');
    }
    return out;
}

bool write(const std::string& section, const std::optional<std::string>& key,
           const std::optional<std::string>& value, const std::string& path) {
    Ini ini;
    std::error_code ec;
    if (std::filesystem::exists(path, ec) && !load(ini, path)) return false;
    ini.SetUnicode(false);
    ini.SetSpaces(false);  // "key=value", as the classic profile functions write
    if (!key) {
        ini.Delete(section.c_str(), nullptr);
    } else if (!value) {
        ini.Delete(section.c_str(), key->c_str());
    } else if (ini.SetValue(section.c_str(), key->c_str(), value->c_str()) < 0) {
        return false;
    }
    return ini.SaveFile(path.c_str()) >= 0;
}

}  // namespace velarion::ini
