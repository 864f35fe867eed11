// One JSON object per line (JSON Lines), for output other programs read.
// Keys keep the order they are added in.
#pragma once

#include <memory>
#include <string>
#include <vector>

namespace velarion {

class JsonLine {
public:
    JsonLine();
    ~JsonLine();
    JsonLine(const JsonLine&) = delete;
    JsonLine& operator=(const JsonLine&) = delete;

    // Text given in UTF-8; bytes that are not valid UTF-8 are replaced.
    JsonLine& text(const std::string& key, const std::string& utf8);
    // An array of texts (UTF-8).
    JsonLine& texts(const std::string& key, const std::vector<std::string>& utf8);
    JsonLine& number(const std::string& key, long long n);
    JsonLine& null(const std::string& key);
    // A nested object, moved in.
    JsonLine& object(const std::string& key, JsonLine&& inner);

    // The object on one line, without the line end.
    std::string dump() const;

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace velarion
