// Helpers shared by the overlay language and the barcode settings: number and
// colour fields, the logo directory, font file look-up, and the error that
// ends an overlay.
#pragma once

#include <optional>
#include <stdexcept>
#include <string>

namespace velarion {

struct Context;

namespace overlay {

// A failure that ends an overlay: the number and description of its error line.
class OverlayError : public std::runtime_error {
public:
    OverlayError(int number, const std::string& description)
        : std::runtime_error(description), number_(number) {}
    int number() const { return number_; }

private:
    int number_;
};

// Errors of the overlay language, with the numbers and texts of the original runtime.
[[noreturn]] void throw_type_mismatch();      // 13 "Type mismatch"
[[noreturn]] void throw_out_of_range();       // 9 "Subscript out of range"

// A numeric field after NormalizeDecimal, in the system's notation; nullopt
// when it is not a number (blanks around it are allowed).
std::optional<double> TryNumber(const Context& ctx, const std::string& text);
// The same, ending the overlay with "Type mismatch" when it is not a number.
double ToNumber(const Context& ctx, const std::string& text);
// A number written with "." whatever the system's notation.
std::optional<double> TryPlainNumber(const std::string& text);

struct Colour {
    int red = 0, green = 0, blue = 0;
};
// "red,green,blue": the text before the first comma, between the first and
// second, and after the second. Fewer than two commas: "Subscript out of
// range"; a part that is not a number: "Type mismatch". Parts are kept in 0-255.
Colour ParseColour(const Context& ctx, const std::string& text);

// The logo directory with a trailing separator: "Dir_Loghi", or the program
// path's "loghi" folder when it is not set.
std::string LogoDir(const Context& ctx);
// A name without a folder is taken from the logo directory.
std::string InLogoDir(const Context& ctx, const std::string& name);

// A font file named by the configuration: looked up in the program directory,
// then in the system font folders (recursively), without regard to case.
// "" when not found.
std::string FindFontFile(const Context& ctx, const std::string& file_name);

}  // namespace overlay
}  // namespace velarion
