// What the fuzz targets share: a private folder per process that every
// input is composed in, the named parts of an input, and an agent without a
// window on a fixed clock.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <string>

#include "common/null_view.h"
#include "platform/os/clock.h"
#include "startup/agent.h"

namespace velarion::fuzz {

// The folder of this process (with a trailing "/"), made on first use below
// /dev/shm (else the system's temporary folder) and removed when the process
// ends. TMPDIR points into it, so temporary files stay inside too.
const std::string& work_root();

// Restricts this process to writing inside work_root() (and the folders
// named in VELARION_FUZZ_WRITABLE, colon-separated: the fuzzer's corpus and
// artifacts), so that paths taken from an input (copy targets, merge files)
// cannot touch the rest of the machine. False when the kernel cannot do it.
bool confine_writes();

// The parts of an input: a line "@@@ name" starts the part of that name; the
// text before the first such line is the part "".
std::map<std::string, std::string> split_parts(const std::uint8_t* data, std::size_t size);

// A name that can be created inside a folder as it is: letters, digits, ".",
// "_" and "-", not starting with ".", at most 64 characters.
bool safe_file_name(const std::string& name);

// Writes the parts with a safe name into folder, each as a file of that name.
void write_parts(const std::map<std::string, std::string>& parts, const std::string& folder);

// Makes folder empty (creating it when missing).
void empty_folder(const std::string& folder);

// Writes bytes to a file.
void write_bytes(const std::string& path, const std::string& bytes);

// An agent with no window, on a fixed date, whose work and logo folders lie
// in work_root(); the activity list is emptied before each input.
struct Context {
    Context();
    FixedClock clock;
    NullView view;
    Agent agent;
    Settings& cfg = agent.settings;
    Runtime& rt = agent.rt;
    std::string work;  // tempozip/
    std::string logos;  // loghi/
    // Empties the folders and the activity list.
    void reset();
    // With VELARION_FUZZ_VERBOSE set, writes the input's activity lines and
    // the files left in the work folder to standard error (to check seeds).
    void report() const;
};

}  // namespace velarion::fuzz
