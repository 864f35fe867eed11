// The few registry values the agent reads, answered from the Linux host:
// "ProductName" from os-release, "SystemRoot" empty, and the mail client name
// (the unnamed value of "Software\Clients\Mail") from velarion.ini section
// "MAPI" key "client", else the desktop's default mailto handler.
#pragma once

#include <string>

namespace velarion::registry {

enum class Hive { LocalMachine, CurrentUser };

// The value, or def when it cannot be read. At most 254 characters, as from
// a 255-byte buffer. config_path is velarion.ini (for the mail client name).
std::string read(Hive hive, const std::string& key, const std::string& value, const std::string& def,
                 const std::string& config_path = "");

// PRETTY_NAME of an os-release file ("" when absent).
std::string os_pretty_name(const std::string& os_release_path);

// Name of the desktop's default mailto handler ("" when none is known).
std::string default_mail_client_name();

}  // namespace velarion::registry
