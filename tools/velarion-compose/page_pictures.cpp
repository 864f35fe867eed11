#include "page_pictures.h"

#include <dlfcn.h>

#include <stdexcept>

#include "platform/os/paths.h"

namespace velarion::compose {

namespace {

using RenderEntry = void (*)(const std::string&, const std::string&, const std::string&, int,
                             std::vector<std::string>&);

// The renderer module, loaded on first use and kept for the process (--watch
// renders again after every change).
RenderEntry renderer() {
    static RenderEntry entry = [] {
        const std::string module = paths::program_dir() + kPicturesModule;
        void* handle = ::dlopen(module.c_str(), RTLD_NOW | RTLD_LOCAL);
        if (!handle) {
            const char* why = ::dlerror();
            // dlerror names the file.
            throw std::runtime_error(std::string("cannot load the page renderer: ") + (why ? why : module.c_str()));
        }
        void* symbol = ::dlsym(handle, kRenderEntry);
        if (!symbol) {
            ::dlclose(handle);
            throw std::runtime_error("the page renderer " + module + " has no " + kRenderEntry);
        }
        return reinterpret_cast<RenderEntry>(symbol);
    }();
    return entry;
}

}  // namespace

std::vector<std::string> render_pages(const std::string& pdf, const std::string& folder, const std::string& stem,
                                      int dpi) {
    std::vector<std::string> written;
    renderer()(pdf, folder, stem, dpi, written);
    return written;
}

}  // namespace velarion::compose
