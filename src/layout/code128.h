// The automatic Code 128 encoder: chooses code sets A, B and C as it goes,
// writes FNC1 for application-identifier marks and gives the barcode-font
// string, its human-readable text or its check character.
#pragma once

#include <string>

namespace velarion {

// return_type 0: barcode string; 1: human-readable text; 2: check character.
// FNC1 marks in data: Chr(202) (AI length from its first digits) and
// Chr(212) to Chr(215) (AI of 2 to 5 digits). The caller's data is emptied.
std::string Code128(std::string& data, int return_type);

}  // namespace velarion
