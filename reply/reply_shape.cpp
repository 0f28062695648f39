// What lies around a reply's mission list: a SOAP Header that the descent passes over, the
// result name of a SOAP 1.2 RPC reply, a bare list whose missions stand a level higher, and the
// arriving mission that a reply of another layout holds where the descent never looks.
#include "reply.h"

#include <cstring>

namespace {

constexpr const char *soap_rpc = "http://www.w3.org/2003/05/soap-rpc";

bool is_element_named(const xmlNode *node, const char *element_name)
{
    return node->type == XML_ELEMENT_NODE && name_is(node, element_name);
}

// The next node of a walk in document order once everything inside `node` is done with: its
// next sibling, or the next sibling of the nearest ancestor that has one, short of `top`. The
// examined nodes are the first examined one and all its later siblings, so reaching the first
// of them ends its sibling chain.
const xmlNode *after_subtree(const xmlNode *node, const xmlNode *top, const xmlNode *first_examined)
{
    while (node != top && node != nullptr) {
        const xmlNode *sibling = node->next;
        if (sibling != nullptr && sibling != first_examined) {
            return sibling;
        }
        node = node->parent;
    }
    return nullptr;
}

bool is_soap_header(const xmlNode *node)
{
    return node != nullptr && is_element_named(node, "Header");
}

bool is_rpc_result(const xmlNode *node)
{
    return node != nullptr && is_element_named(node, "result") && node->ns != nullptr &&
           node->ns->href != nullptr &&
           std::strcmp(reinterpret_cast<const char *>(node->ns->href), soap_rpc) == 0;
}

} // namespace

std::optional<Outcome> refused_root(const xmlDoc *document)
{
    const xmlNode *root = xmlDocGetRootElement(document);
    if (root == nullptr) {
        return Outcome::empty_document;
    }
    if (!name_is(root, "Envelope")) {
        return Outcome::wrong_type;
    }
    return std::nullopt;
}

const xmlNode *next_level(const xmlNode *node, bool indented)
{
    if (node == nullptr || node->children == nullptr) {
        return nullptr;
    }
    return indented ? node->children->next : node->children;
}

const xmlNode *descent_level_three(const xmlNode *root, bool indented, bool &settled)
{
    const xmlNode *level_one = next_level(root, indented);
    const xmlNode *descent = past_header(level_one);
    settled = !(descent == level_one && is_soap_header(level_one));
    return next_level(next_level(descent, indented), indented);
}

const xmlNode *mission_list_container(const xmlNode *root, bool indented, bool &settled)
{
    const xmlNode *level_three = descent_level_three(root, indented, settled);
    if (is_mission(level_three)) {
        return level_three->parent;
    }
    const xmlNode *container = past_rpc_result(level_three);
    settled = settled && !(container == level_three && is_rpc_result(level_three));
    return container;
}

bool is_mission(const xmlNode *node)
{
    return node != nullptr && first_child_named(node, "stationsMessages") != nullptr;
}

const xmlNode *past_header(const xmlNode *level_one)
{
    if (!is_soap_header(level_one)) {
        return level_one;
    }
    for (const xmlNode *sibling = level_one->next; sibling != nullptr; sibling = sibling->next) {
        if (is_element_named(sibling, "Body")) {
            return sibling;
        }
    }
    return level_one;
}

const xmlNode *past_rpc_result(const xmlNode *level_three)
{
    if (!is_rpc_result(level_three)) {
        return level_three;
    }
    for (const xmlNode *sibling = level_three->next; sibling != nullptr; sibling = sibling->next) {
        if (sibling->type == XML_ELEMENT_NODE) {
            return sibling;
        }
    }
    return level_three;
}

bool arrival_in_wrapper(const xmlDoc *document, const xmlNode *entry)
{
    return entry->type == XML_ELEMENT_NODE && !is_mission(entry) &&
           arrival_outside(document, entry, nullptr);
}

bool arrival_outside(const xmlDoc *document, const xmlNode *root, const xmlNode *first_examined)
{
    // Only elements are gone into: an entity reference's children are its entity's, shared with
    // every other reference to it, and their parent is the entity, not the reference.
    const xmlNode *node = root;
    while (node != nullptr) {
        if (node->type == XML_ELEMENT_NODE) {
            if (train_arrives(document, node)) {
                return true;
            }
            const xmlNode *child = node->children;
            if (child != nullptr && child != first_examined) {
                node = child;
                continue;
            }
        }
        node = after_subtree(node, root, first_examined);
    }
    return false;
}
