// Lines of spool input read with a bound on what is kept, so that memory
// depends on the bound and not on the length of a line: a print file of one
// line of hundreds of megabytes costs no more than one of a page.
#pragma once

#include <cstddef>
#include <istream>
#include <string>

namespace velarion {

// What is kept of a print-file line: far beyond the widest print type (a few
// hundred columns, with room for the markup that draws nothing); the rest of
// a longer line would fall outside the page and is not drawn anyway.
constexpr std::size_t kMaxPrintLine = 64 * 1024;

// Reads one line as std::getline does (up to '\n', which is dropped), keeping
// its first `max` bytes in line and skipping the rest without storing it.
// False, with the stream failed, at the end of input when nothing was read.
bool read_bounded_line(std::istream& in, std::string& line, std::size_t max = kMaxPrintLine);

}  // namespace velarion
