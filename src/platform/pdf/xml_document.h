// A parsed XML document (libxml2), for reading a few values out of a file a
// business application wrote. No network, no external entities, no DTD.
#pragma once

#include <memory>
#include <string>
#include <vector>

namespace velarion::xml {

// An element name: its namespace URI and its local name.
struct Name {
    std::string ns, local;
    bool operator==(const Name&) const = default;
};

class Document {
public:
    // Parses `bytes`; a document that is not well-formed is not ok() and
    // error() says where and why.
    static Document parse(const std::string& bytes);

    bool ok() const { return doc_ != nullptr; }
    const std::string& error() const { return error_; }
    // The root element's name ({} when not ok).
    Name root() const;
    // The text of the first element reached from the root by `path` (each
    // step a child element of that name); "" when there is none.
    std::string text(const std::vector<Name>& path) const;

private:
    std::shared_ptr<void> doc_;
    std::string error_;
};

}  // namespace velarion::xml
