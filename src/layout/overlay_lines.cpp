#include "layout/overlay_lines.h"

#include <istream>

#include "common/bounded_line.h"
#include "common/runtime.h"
#include "layout/overlay_support.h"
#include "platform/os/ini_file.h"

namespace velarion::overlay {

std::shared_ptr<const OverlayLines> overlay_lines(const Runtime& rt, const std::string& path,
                                                  const safe_path::Fd& fd) {
    const auto stamp = ini::stamp_of(fd);
    if (!stamp || stamp->size > kMaxKeptOverlay) return nullptr;
    // The numbers are read in the run's notation, which is part of the key.
    const std::string key = "overlay\n" + rt.cfg.host.decimal_separator + "\n" + path;
    if (auto kept = rt.ini_files.made_from_file(key, *stamp))
        return std::static_pointer_cast<const OverlayLines>(kept);
    const long long read_at = IniCache::now_ns();
    auto lines = std::make_shared<OverlayLines>();
    safe_path::FdReader reader(fd);
    std::istream in(&reader);
    std::string line;
    std::size_t bytes = 0;
    // Read as the drawing reads it; a file that grows while it is read is
    // cut at twice the bound (its next version is read again anyway).
    while (bytes <= 2 * kMaxKeptOverlay && read_bounded_line(in, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        OverlayLine l{line, SplitTabFields(line)};
        for (int i = 1; i <= l.fields.count; ++i) l.numbers[i] = TryNumber(rt, l.fields[i]);
        bytes += sizeof(OverlayLine) + line.size() * 2 + 64;
        const bool end = l.fields[2] == "END";
        lines->push_back(std::move(l));
        if (end) break;
    }
    // A file that failed to read is drawn as far as it was read, and read
    // again the next time.
    if (!reader.failed()) rt.ini_files.keep_made_from_file(key, *stamp, read_at, lines, bytes);
    return lines;
}

}  // namespace velarion::overlay
