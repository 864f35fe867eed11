// The lines of an overlay file split into their fields, kept for the run
// while the file stays the same version: an overlay drawn on every page of
// every message is read and split once, not once a page.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "layout/overlay.h"
#include "platform/os/safe_path.h"

namespace velarion {

struct Runtime;

namespace overlay {

// One line of an overlay: as read (without its CR), split at TAB, and each
// field read as a number in the run's notation (nullopt: not a number).
struct OverlayLine {
    std::string text;
    TabFields fields;
    FieldNumbers numbers{};
};

// The lines every drawing of the file can reach: up to its first END line
// (the language stops there) or its end.
using OverlayLines = std::vector<OverlayLine>;

// Overlays larger than this are read line by line at every drawing (memory
// stays bounded by a line, not by the file).
constexpr unsigned long long kMaxKeptOverlay = 256 * 1024;

// The lines of the overlay at `path`, opened through the confined open as
// `fd` (at its start): from the run's cache when the file opened is the
// version read before (device, inode, size, modification time of the
// descriptor) and the run's decimal notation, else read from fd and kept for
// the next drawing. Null when the
// file is too large to be kept: it is then read from fd as a stream.
std::shared_ptr<const OverlayLines> overlay_lines(const Runtime& rt, const std::string& path, const safe_path::Fd& fd);

}  // namespace overlay
}  // namespace velarion
