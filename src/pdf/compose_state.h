// Per-message state of the PDF composition, reset after every message.
#pragma once

#include <string>
#include <vector>

namespace velarion {

struct ComposeState {
    std::string created_pdf;  // path of the PDF the last CreaPdf call made
};

}  // namespace velarion
