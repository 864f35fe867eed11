// Rendering a PDF page with pdftoppm and reading its pixels, for the tests of
// overlays and barcodes.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

#include "platform/os/process.h"
#include "support/test_support.h"

namespace velarion::testing {

// A rendered page: RGB pixels, with look-ups in millimetres from the top left.
struct RenderedPage {
    int width = 0, height = 0;
    double px_per_mm = 0;
    std::vector<unsigned char> rgb;

    bool ok() const { return width > 0 && height > 0; }
    const unsigned char* at(double x_mm, double y_mm) const {
        int x = static_cast<int>(x_mm * px_per_mm), y = static_cast<int>(y_mm * px_per_mm);
        if (x < 0) x = 0;
        if (y < 0) y = 0;
        if (x >= width) x = width - 1;
        if (y >= height) y = height - 1;
        return &rgb[(static_cast<std::size_t>(y) * width + x) * 3];
    }
    // Dark: all three channels below 100.
    bool dark(double x_mm, double y_mm) const {
        const unsigned char* p = at(x_mm, y_mm);
        return p[0] < 100 && p[1] < 100 && p[2] < 100;
    }
    bool white(double x_mm, double y_mm) const {
        const unsigned char* p = at(x_mm, y_mm);
        return p[0] > 200 && p[1] > 200 && p[2] > 200;
    }
};

// Renders page `page` of pdf at dpi into the file out_base + ".ppm" and reads it.
inline RenderedPage render_page(const std::string& pdf, int page, int dpi,
                                const std::string& out_base) {
    RenderedPage r;
    const std::string p = std::to_string(page);
    if (process::run_and_wait({"pdftoppm", "-r", std::to_string(dpi), "-f", p, "-l", p,
                               "-singlefile", pdf, out_base}) != 0)
        return r;
    const std::string data = read_file(out_base + ".ppm");
    int w = 0, h = 0, max = 0, consumed = 0;
    if (std::sscanf(data.c_str(), "P6 %d %d %d%n", &w, &h, &max, &consumed) != 3) return r;
    const std::size_t offset = static_cast<std::size_t>(consumed) + 1;
    if (data.size() < offset + static_cast<std::size_t>(w) * h * 3) return r;
    r.width = w;
    r.height = h;
    r.px_per_mm = dpi / 25.4;
    r.rgb.assign(data.begin() + static_cast<std::ptrdiff_t>(offset), data.end());
    return r;
}

}  // namespace velarion::testing
