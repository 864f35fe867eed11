#include "common/print_file_name.h"

#include "platform/text_encoding.h"

namespace velarion {

bool is_print_file(const std::string& name) {
    if (name.size() != 10 && name.size() != 13) return false;
    return text::lower(name.substr(name.size() - 4)) == ".txt";
}

}  // namespace velarion
