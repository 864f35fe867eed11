// Helpers shared by the overlay language and the barcode settings: number and
// colour fields, names in the logo directory, and the errors that end an
// overlay.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "platform/os/error.h"
#include "platform/os/safe_path.h"

namespace velarion {

struct Runtime;

namespace overlay {

// Errors of the overlay language, with the numbers and texts of the original runtime.
[[noreturn]] void throw_type_mismatch();      // 13 "Type mismatch"
[[noreturn]] void throw_out_of_range();       // 9 "Subscript out of range"

// A numeric field after NormalizeDecimal, in the system's notation; nullopt
// when it is not a number (blanks around it are allowed).
std::optional<double> TryNumber(const Runtime& rt, const std::string& text);
// The same, ending the overlay with "Type mismatch" when it is not a number.
double ToNumber(const Runtime& rt, const std::string& text);
// A number written with "." whatever the system's notation.
std::optional<double> TryPlainNumber(const std::string& text);

struct Colour {
    int red = 0, green = 0, blue = 0;
};
// "red,green,blue": the text before the first comma, between the first and
// second, and after the second. Fewer than two commas: "Subscript out of
// range"; a part that is not a number: "Type mismatch". Parts are kept in 0-255.
Colour ParseColour(const Runtime& rt, const std::string& text);

// A name without a folder is taken from the logo directory.
std::string InLogoDir(const Runtime& rt, const std::string& name);

// The folders style files are read from: the read folders and the logo folder.
std::vector<std::string> StyleRoots(const Runtime& rt);

// The file a style names (an overlay, a picture, a barcode or formatting
// file), given as its full path: found without regard to case, and read only
// when its real location (links resolved) lies below the logo folder or a
// read folder. Returns the path to read: the file found, the path itself
// when nothing is there (its reader says it is missing), or "" after the line
// " File di stile fuori dalle cartelle ammesse <path>".
std::string StyleFilePath(const Runtime& rt, const std::string& path);

// A font file a style names, found as the font look-up finds it (program
// folder, system font folders); a name with a folder of its own is read only
// below the logo folder or a read folder. "" when not found or refused.
std::string StyleFontPath(const Runtime& rt, const std::string& name);

// StyleFilePath and OpenStyleFile in one confined lookup: `path` as
// StyleFilePath gives it (with its line for a file outside the folders) and
// the file opened there, invalid when missing or refused.
struct FoundStyleFile {
    std::string path;
    safe_path::Fd fd;
};
FoundStyleFile FindAndOpenStyleFile(const Runtime& rt, const std::string& path);

// The file at a path StyleFilePath gave, opened once through the confined
// open (below the logo folder or a read folder, no link followed on the
// way): what is read from it is the file checked, whatever is renamed or
// linked in its place meanwhile. Invalid for "" and a file missing or refused.
safe_path::Fd OpenStyleFile(const Runtime& rt, const std::string& path);

// The same for a font file StyleFontPath found for `name`: confined to the
// folders a font named with a folder may lie in, otherwise to the folder it
// was found in.
safe_path::Fd OpenStyleFont(const Runtime& rt, const std::string& name, const std::string& path);

}  // namespace overlay
}  // namespace velarion
