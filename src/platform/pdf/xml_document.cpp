#include "platform/pdf/xml_document.h"

#include <cstdint>

#include <libxml/parser.h>
#include <libxml/tree.h>
#include <libxml/xmlerror.h>

namespace velarion::xml {

namespace {

xmlDocPtr as_doc(const std::shared_ptr<void>& p) { return static_cast<xmlDocPtr>(p.get()); }

Name name_of(xmlNodePtr node) {
    Name n;
    n.local = reinterpret_cast<const char*>(node->name);
    if (node->ns && node->ns->href) n.ns = reinterpret_cast<const char*>(node->ns->href);
    return n;
}

xmlNodePtr child(xmlNodePtr parent, const Name& name) {
    for (xmlNodePtr c = parent->children; c; c = c->next)
        if (c->type == XML_ELEMENT_NODE && name_of(c) == name) return c;
    return nullptr;
}

}  // namespace

Document Document::parse(const std::string& bytes) {
    Document d;
    // Entities stay unexpanded and no DTD is read: nothing outside the bytes is looked at.
    const int options = XML_PARSE_NONET | XML_PARSE_NOERROR | XML_PARSE_NOWARNING;
    xmlResetLastError();
    xmlDocPtr doc = xmlReadMemory(bytes.data(), static_cast<int>(bytes.size()), "invoice.xml", nullptr, options);
    if (!doc || bytes.size() > static_cast<std::size_t>(INT32_MAX)) {
        const xmlError* e = xmlGetLastError();
        d.error_ = e && e->message ? "line " + std::to_string(e->line) + ": " + e->message : "not XML";
        while (!d.error_.empty() && (d.error_.back() == '\n' || d.error_.back() == ' ')) d.error_.pop_back();
        if (doc) xmlFreeDoc(doc);
        return d;
    }
    d.doc_ = std::shared_ptr<void>(doc, [](void* p) { xmlFreeDoc(static_cast<xmlDocPtr>(p)); });
    return d;
}

Name Document::root() const {
    if (!ok()) return {};
    xmlNodePtr r = xmlDocGetRootElement(as_doc(doc_));
    return r ? name_of(r) : Name{};
}

std::string Document::text(const std::vector<Name>& path) const {
    if (!ok()) return {};
    xmlNodePtr node = xmlDocGetRootElement(as_doc(doc_));
    for (const Name& step : path) {
        if (!node) return {};
        node = child(node, step);
    }
    if (!node) return {};
    xmlChar* content = xmlNodeGetContent(node);
    if (!content) return {};
    std::string out = reinterpret_cast<const char*>(content);
    xmlFree(content);
    return out;
}

}  // namespace velarion::xml
