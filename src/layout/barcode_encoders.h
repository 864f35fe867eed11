// Text encoders for barcode fonts: each turns data into the character string
// that a barcode font of the IDAutomation family shows as bars. Characters are
// single Windows-1252 bytes.
#pragma once

#include <string>

namespace velarion {

// Fixed characters of the barcode fonts.
inline constexpr char kCode128StartA = '\xCB';  // Chr(203); also the I2of5 start
inline constexpr char kCode128StartB = '\xCC';  // Chr(204); also the I2of5 stop
inline constexpr char kCode128StartC = '\xCD';  // Chr(205)
inline constexpr char kCode128Stop = '\xCE';    // Chr(206)
inline constexpr char kCode128Space = '\xC2';   // Chr(194), value 0
inline constexpr char kCode128Fnc1 = '\xCA';    // Chr(202), value 102
inline constexpr char kCode128SwitchC = '\xC7';  // Chr(199), value 99
inline constexpr char kCode128SwitchB = '\xC8';  // Chr(200), value 100
inline constexpr char kCode128SwitchA = '\xC9';  // Chr(201), value 101

// Code 128 value of a font character: code - 32 below 135, code - 100 above
// 134, and 0 for Chr(194).
int Code128Value(unsigned char code);
// Font character of a Code 128 value: Chr(194) for 0, Chr(v + 32) up to 94,
// Chr(v + 100) above.
char Code128Char(int value);
// Check character of encoded data after the given start character.
char Code128CheckChar(char start, const std::string& encoded);

// The finished Code 128 string: start, encoded data, check character, stop
// and one space.
std::string Code128Output(char start, const std::string& encoded);

// Code 128 with start A / start B ("code128a", "code128b", "code128c").
// Trims the caller's data in place.
std::string Code128a(std::string& data);
std::string Code128b(std::string& data);
// Interleaved 2 of 5 of the digits of data; trims the caller's data in place.
std::string I2of5(std::string& data);
// Code 39: "!" + data with spaces as "=" + "!"; trims the caller's data in place.
std::string Code39(std::string& data);

}  // namespace velarion
