#include "platform/pdf/xml_document.h"

#include <cstdint>
#include <memory>
#include <string_view>

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

// Set by the SAX event of a DOCTYPE declaration, which stops the parser
// there (the parse that meets it runs on this thread).
thread_local bool doctype_seen = false;

void stop_at_doctype(void* ctx, const xmlChar*, const xmlChar*, const xmlChar*) {
    doctype_seen = true;
    xmlStopParser(static_cast<xmlParserCtxtPtr>(ctx));
}

// The encoding that the first bytes mark when it is not UTF-8 (a byte order
// mark, or "<" in two or four bytes), nullptr otherwise.
const char* marked_encoding(const std::string& b) {
    const auto starts = [&b](std::string_view head) { return std::string_view(b).starts_with(head); };
    using namespace std::string_view_literals;
    if (starts("\x00\x00\xFE\xFF"sv) || starts("\xFF\xFE\x00\x00"sv) || starts("\x00\x00\x00<"sv) ||
        starts("<\x00\x00\x00"sv))
        return "UTF-32";
    if (starts("\xFE\xFF"sv) || starts("\xFF\xFE"sv) || starts("\x00<"sv) || starts("<\x00"sv)) return "UTF-16";
    if (starts("\x4C\x6F\xA7\x94"sv)) return "EBCDIC";
    return nullptr;
}

// libxml2 sends the errors of its encoding and input layers to its generic
// handler (standard error, the agent's journal) whatever the parse options:
// an invoice with bad bytes would write there at every read. Silenced for one
// parse on this thread; the error is still taken from xmlGetLastError.
void ignore_error(void*, const char*, ...) {}

class QuietErrors {
public:
    QuietErrors() : handler_(xmlGenericError), context_(xmlGenericErrorContext) {
        xmlSetGenericErrorFunc(nullptr, ignore_error);
    }
    ~QuietErrors() { xmlSetGenericErrorFunc(context_, handler_); }
    QuietErrors(const QuietErrors&) = delete;
    QuietErrors& operator=(const QuietErrors&) = delete;

private:
    xmlGenericErrorFunc handler_;
    void* context_;
};

}  // namespace

Document Document::parse(const std::string& bytes) {
    Document d;
    const auto refuse = [&d](Problem problem, std::string error) {
        d.problem_ = problem;
        d.error_ = std::move(error);
        return std::move(d);
    };
    if (bytes.size() > static_cast<std::size_t>(INT32_MAX)) return refuse(Problem::malformed, "too large");
    if (const char* other = marked_encoding(bytes)) return refuse(Problem::not_utf8, other);

    const std::unique_ptr<xmlParserCtxt, decltype(&xmlFreeParserCtxt)> ctxt(xmlNewParserCtxt(), &xmlFreeParserCtxt);
    if (!ctxt) return refuse(Problem::malformed, "no memory to parse");
    // The parser stops at the DOCTYPE, before its declarations are read.
    doctype_seen = false;
    ctxt->sax->internalSubset = stop_at_doctype;
    // No entity is substituted and nothing outside the bytes is looked at.
    const int options = XML_PARSE_NONET | XML_PARSE_NOERROR | XML_PARSE_NOWARNING;
    xmlResetLastError();
    const QuietErrors quiet;
    const std::shared_ptr<void> doc(
        xmlCtxtReadMemory(ctxt.get(), bytes.data(), static_cast<int>(bytes.size()), "invoice.xml", nullptr, options),
        [](void* p) {
            if (p) xmlFreeDoc(static_cast<xmlDocPtr>(p));
        });
    if (doctype_seen) return refuse(Problem::doctype, "a DOCTYPE declaration");
    if (!doc) {
        const xmlError* e = xmlGetLastError();
        std::string error = e && e->message ? "line " + std::to_string(e->line) + ": " + e->message : "not XML";
        while (!error.empty() && (error.back() == '\n' || error.back() == ' ')) error.pop_back();
        return refuse(Problem::malformed, std::move(error));
    }
    // The encoding the XML declaration names ("" when it names none: UTF-8).
    const xmlChar* declared = as_doc(doc)->encoding;
    if (declared && xmlStrcasecmp(declared, BAD_CAST "UTF-8") != 0)
        return refuse(Problem::not_utf8, reinterpret_cast<const char*>(declared));
    d.doc_ = doc;
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
