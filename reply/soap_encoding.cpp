// Values in SOAP encoding: a service that writes its reply in that style may put a value
// elsewhere and point to it, send repeated values as an array of items, or send text in base64.
// Read where the reports look, such values come out empty, short or garbled, so a reply that
// carries them is refused rather than logged wrong.
#include "reply.h"

#include <cstring>

namespace {

constexpr const char *soap_1_1_encoding = "http://schemas.xmlsoap.org/soap/encoding/";
constexpr const char *soap_1_2_encoding = "http://www.w3.org/2003/05/soap-encoding";
constexpr const char *schema_instance = "http://www.w3.org/2001/XMLSchema-instance";

bool text_is(const xmlChar *text, const char *expected)
{
    return text != nullptr && std::strcmp(reinterpret_cast<const char *>(text), expected) == 0;
}

bool in_namespace(const xmlAttr *attribute, const char *namespace_name)
{
    return attribute->ns != nullptr && text_is(attribute->ns->href, namespace_name);
}

bool in_encoding_namespace(const xmlAttr *attribute)
{
    return in_namespace(attribute, soap_1_1_encoding) || in_namespace(attribute, soap_1_2_encoding);
}

// The local part of a type's qualified name, the surrounding whitespace aside.
std::string_view local_part(std::string_view qualified_name)
{
    const std::size_t first = qualified_name.find_first_not_of(" \t\r\n");
    if (first == std::string_view::npos) {
        return {};
    }
    qualified_name =
        qualified_name.substr(first, qualified_name.find_last_not_of(" \t\r\n") + 1 - first);
    const std::size_t colon = qualified_name.find(':');
    return colon == std::string_view::npos ? qualified_name : qualified_name.substr(colon + 1);
}

bool typed_base64(const xmlDoc *document, const xmlAttr *attribute)
{
    if (!text_is(attribute->name, "type") || !in_namespace(attribute, schema_instance)) {
        return false;
    }
    const std::optional<std::string> type = list_text(document, attribute->children);
    if (!type) {
        return false;
    }
    const std::string_view local = local_part(*type);
    return local == "base64Binary" || local == "base64";
}

bool encoding_marker(const xmlDoc *document, const xmlAttr *attribute)
{
    const xmlChar *name = attribute->name;
    if (text_is(name, "href")) {
        return attribute->ns == nullptr;
    }
    if (text_is(name, "ref")) {
        return in_namespace(attribute, soap_1_2_encoding);
    }
    if (text_is(name, "arrayType") || text_is(name, "itemType") || text_is(name, "arraySize")) {
        return in_encoding_namespace(attribute);
    }
    return typed_base64(document, attribute);
}

bool element_encoded(const xmlDoc *document, const xmlNode *node)
{
    if (node == nullptr || node->type != XML_ELEMENT_NODE) {
        return false;
    }
    for (const xmlAttr *attribute = node->properties; attribute != nullptr;
         attribute = attribute->next) {
        if (encoding_marker(document, attribute)) {
            return true;
        }
    }
    return false;
}

// The element itself, or one of its children of those names.
bool container_encoded(const xmlDoc *document, const xmlNode *container,
                       std::initializer_list<const char *> child_names)
{
    if (container == nullptr) {
        return false;
    }
    if (element_encoded(document, container)) {
        return true;
    }
    for (const xmlNode *child = container->children; child != nullptr; child = child->next) {
        for (const char *child_name : child_names) {
            if (name_is(child, child_name) && element_encoded(document, child)) {
                return true;
            }
        }
    }
    return false;
}

} // namespace

bool entry_encoded(const xmlDoc *document, const xmlNode *entry, bool arriving)
{
    if (entry->type != XML_ELEMENT_NODE) {
        return false;
    }
    if (element_encoded(document, entry) ||
        element_encoded(document, first_child_named(entry, "stationsMessages"))) {
        return true;
    }
    if (!arriving) {
        return false;
    }
    for (const xmlNode *child = entry->children; child != nullptr; child = child->next) {
        if (name_is(child, "stationsDates") && element_encoded(document, child)) {
            return true;
        }
    }
    return container_encoded(document, first_child_named(entry, "direction"), {"name", "sens"});
}

bool stations_encoded(const xmlDoc *document, const xmlNode *mission)
{
    return container_encoded(document, first_child_named(mission, "stations"), {"name"});
}

bool container_by_reference(const xmlNode *container)
{
    if (container == nullptr || container->type != XML_ELEMENT_NODE) {
        return false;
    }
    for (const xmlAttr *attribute = container->properties; attribute != nullptr;
         attribute = attribute->next) {
        if ((text_is(attribute->name, "href") && attribute->ns == nullptr) ||
            (text_is(attribute->name, "ref") && in_namespace(attribute, soap_1_2_encoding))) {
            return true;
        }
    }
    return false;
}
