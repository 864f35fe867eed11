// Appending listed PDFs to a composed document (AGGIUNGIFONDOPDF).
#pragma once

#include <string>
#include <vector>

namespace velarion {

struct Runtime;

void AGGIUNGIFONDOPDF(const Runtime& rt, const std::string& document_path,
                      const std::vector<std::string>& merge_list);

}  // namespace velarion
