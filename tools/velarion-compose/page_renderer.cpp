// The page renderer of velarion-compose --png, built as a module of its own
// (velarion-compose-pictures.so, beside the program) that the program loads
// only when pictures are asked for: poppler and the libraries it brings
// (NSS, lcms, TIFF, OpenJPEG ...) are then not loaded for a composition.
#include <poppler-document.h>
#include <poppler-image.h>
#include <poppler-page-renderer.h>
#include <poppler-page.h>

#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "page_pictures.h"

// The module's one entry, looked up by name (kRenderEntry); see render_pages.
extern "C" void velarion_render_pages(const std::string& pdf, const std::string& folder, const std::string& stem,
                                      int dpi, std::vector<std::string>& written) {
    const std::unique_ptr<poppler::document> doc(poppler::document::load_from_file(pdf));
    if (!doc || doc->is_locked()) throw std::runtime_error("cannot read " + pdf);
    poppler::page_renderer renderer;
    renderer.set_render_hint(poppler::page_renderer::antialiasing, true);
    renderer.set_render_hint(poppler::page_renderer::text_antialiasing, true);
    renderer.set_paper_color(0xffffffff);
    renderer.set_image_format(poppler::image::format_rgb24);

    for (int i = 0; i < doc->pages(); ++i) {
        const std::unique_ptr<poppler::page> page(doc->create_page(i));
        if (!page) throw std::runtime_error("cannot read page " + std::to_string(i + 1) + " of " + pdf);
        const poppler::image image = renderer.render_page(page.get(), dpi, dpi);
        const std::string file = folder + "/" + stem + "-" + std::to_string(i + 1) + ".png";
        if (!image.is_valid() || !image.save(file, "png", dpi)) throw std::runtime_error("cannot write " + file);
        written.push_back(file);
    }
}
