#include "platform/os/json_lines.h"

#include <nlohmann/json.hpp>

namespace velarion {

struct JsonLine::Impl {
    nlohmann::ordered_json value = nlohmann::ordered_json::object();
};

JsonLine::JsonLine() : impl_(std::make_unique<Impl>()) {}
JsonLine::~JsonLine() = default;

JsonLine& JsonLine::text(const std::string& key, const std::string& utf8) {
    impl_->value[key] = utf8;
    return *this;
}

JsonLine& JsonLine::texts(const std::string& key, const std::vector<std::string>& utf8) {
    auto array = nlohmann::ordered_json::array();
    for (const auto& t : utf8) array.push_back(t);
    impl_->value[key] = std::move(array);
    return *this;
}

JsonLine& JsonLine::number(const std::string& key, long long n) {
    impl_->value[key] = n;
    return *this;
}

JsonLine& JsonLine::null(const std::string& key) {
    impl_->value[key] = nullptr;
    return *this;
}

JsonLine& JsonLine::object(const std::string& key, JsonLine&& inner) {
    impl_->value[key] = std::move(inner.impl_->value);
    return *this;
}

std::string JsonLine::dump() const {
    return impl_->value.dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace);
}

}  // namespace velarion
