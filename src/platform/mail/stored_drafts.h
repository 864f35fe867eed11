// Whether a drafts folder already holds a message, by its Message-ID: asked
// after a store's answer to a draft never came, so that the draft is not
// stored twice. Internal to platform/.
#pragma once

#include <string>
#include <vmime/net/store.hpp>

namespace velarion::mail::detail {

// A maildir store at `root` (its folder kept as root/folder or root/.folder):
// a file in its cur/ or new/ whose header has "Message-ID: <id>". Only the
// header of each file is read.
bool maildir_holds(const std::string& root, const std::string& folder, const std::string& id);

// An IMAP store, on its own connection: EXAMINE the folder, then SEARCH
// HEADER Message-ID. A folder that cannot be examined holds nothing.
bool imap_folder_holds(vmime::net::store& store, const std::string& folder, const std::string& id);

}  // namespace velarion::mail::detail
