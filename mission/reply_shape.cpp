// What lies around a reply's mission list: a SOAP Header that the descent passes over, the
// result name of a SOAP 1.2 RPC reply, and the arriving mission that a reply of another layout
// holds where the descent never looks.
#include "mission.h"

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

} // namespace

const xmlNode *past_header(const xmlNode *level_one)
{
    if (level_one == nullptr || !is_element_named(level_one, "Header")) {
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
    const bool rpc_result =
        level_three != nullptr && is_element_named(level_three, "result") &&
        level_three->ns != nullptr && level_three->ns->href != nullptr &&
        std::strcmp(reinterpret_cast<const char *>(level_three->ns->href), soap_rpc) == 0;
    if (!rpc_result) {
        return level_three;
    }
    for (const xmlNode *sibling = level_three->next; sibling != nullptr; sibling = sibling->next) {
        if (sibling->type == XML_ELEMENT_NODE) {
            return sibling;
        }
    }
    return level_three;
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

void report_arrival_outside(const xmlDoc *document, const xmlNode *root,
                            const xmlNode *first_examined)
{
    if (arrival_outside(document, root, first_examined)) {
        write_diagnostic("arriving mission outside the mission list\n");
    }
}
