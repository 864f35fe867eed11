// Keeps passwords out of texts that reach the activity list, the logs,
// message boxes or standard error: error texts of the mail library may quote
// a service URL with its credentials, or a server's answer.
#pragma once

#include <string>
#include <vector>

namespace velarion::text {

// Replaces every occurrence of each non-empty secret (as given, in UTF-8, and
// percent-encoded as in a URL) with "***", and the password part of every
// "scheme://user:password@" in the text.
std::string hide_secrets(std::string text, const std::vector<std::string>& secrets);

}  // namespace velarion::text
