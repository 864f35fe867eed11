// A parsed XML document (libxml2), for reading a few values out of a file a
// business application wrote. No network, no entities, no DTD: a document
// with a DOCTYPE is refused before its declarations are read (an entity
// referenced a million times expands to gigabytes), as is one that is not
// UTF-8.
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
    enum class Problem {
        none,
        malformed,  // not well-formed XML
        doctype,    // a DOCTYPE declaration (a DTD, entities)
        not_utf8,   // another encoding declared or marked (UTF-16, ISO-8859-1, ...)
    };

    // Parses `bytes`; a document that cannot be used is not ok(), problem()
    // says which kind and error() where and why.
    static Document parse(const std::string& bytes);

    bool ok() const { return doc_ != nullptr; }
    Problem problem() const { return problem_; }
    const std::string& error() const { return error_; }
    // The root element's name ({} when not ok).
    Name root() const;
    // The text of the first element reached from the root by `path` (each
    // step a child element of that name); "" when there is none.
    std::string text(const std::vector<Name>& path) const;

private:
    std::shared_ptr<void> doc_;
    Problem problem_ = Problem::none;
    std::string error_;
};

}  // namespace velarion::xml
