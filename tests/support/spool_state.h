// What an installation holds, as the whole-program tests count it: the
// triggers still waiting, the drafts stored, the parked messages.
#pragma once

#include <map>
#include <string>
#include <vector>

namespace velarion::testing {

// Triggers still waiting: in the spool folder or in its queue folder (named
// <trigger>@<state> there; the records beside them are no messages).
int waiting_messages(const std::string& spool);

// The drafts of a maildir (below any folder), counted by their To header.
std::map<std::string, int> drafts_by_recipient(const std::string& maildir);

// The folders below <work>non_inviati/, each with a trailing "/", sorted.
std::vector<std::string> parked_folders(const std::string& work);

}  // namespace velarion::testing
