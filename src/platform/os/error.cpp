#include "platform/os/error.h"

#include <cerrno>
#include <exception>
#include <filesystem>
#include <new>

namespace fs = std::filesystem;

namespace velarion {

namespace {
ErrorInfo from_errno(int code, const std::string& detail) {
    switch (code) {
        case ENOENT: return {53, "File not found " + detail};
        case ENOTDIR: return {76, "Path not found " + detail};
        case EACCES:
        case EPERM:
        case EROFS: return {70, "Permission denied " + detail};
        case EEXIST: return {58, "File already exists " + detail};
        case ENOSPC:
        case EDQUOT: return {61, "Disk full " + detail};
        case EIO: return {57, "Device I/O error " + detail};
        case EISDIR: return {75, "Path/File access error " + detail};
        case ENAMETOOLONG:
        case EINVAL: return {52, "Bad file name or number " + detail};
        default: return {75, "Path/File access error " + detail};
    }
}
}  // namespace

ErrorInfo current_error() {
    try {
        throw;
    } catch (const NumberedError& e) {
        return {e.number(), e.what()};
    } catch (const fs::filesystem_error& e) {
        std::string detail = e.path1().string();
        if (!e.path2().empty()) detail += " " + e.path2().string();
        return from_errno(e.code().value(), detail);
    } catch (const std::bad_alloc&) {
        return {7, "Out of memory"};
    } catch (const std::exception& e) {
        return {5, std::string("Invalid procedure call or argument ") + e.what()};
    } catch (...) {
        return {5, "Invalid procedure call or argument"};
    }
}

}  // namespace velarion
