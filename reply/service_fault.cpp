// A service that cannot answer says so with a Fault, the first element of the reply's Body; such
// a reply holds no board, and reading it as one would pass the failure off as a quiet platform.
#include "reply.h"

namespace {

const xmlNode *first_element(const xmlNode *node)
{
    while (node != nullptr && node->type != XML_ELEMENT_NODE) {
        node = node->next;
    }
    return node;
}

const xmlNode *first_element_named(const xmlNode *parent, const char *element_name)
{
    for (const xmlNode *child = first_element(parent->children); child != nullptr;
         child = first_element(child->next)) {
        if (name_is(child, element_name)) {
            return child;
        }
    }
    return nullptr;
}

// SOAP 1.1 words it in faultstring, SOAP 1.2 in the first Text of its Reason.
const xmlNode *fault_text_element(const xmlNode *fault)
{
    const xmlNode *faultstring = first_element_named(fault, "faultstring");
    if (faultstring != nullptr) {
        return faultstring;
    }
    const xmlNode *reason = first_element_named(fault, "Reason");
    return reason != nullptr ? first_element_named(reason, "Text") : nullptr;
}

} // namespace

const xmlNode *service_fault(const xmlNode *root)
{
    const xmlNode *body = first_element_named(root, "Body");
    if (body == nullptr) {
        return nullptr;
    }
    const xmlNode *first = first_element(body->children);
    return first != nullptr && name_is(first, "Fault") ? first : nullptr;
}

std::string service_fault_text(const xmlDoc *document, const xmlNode *fault)
{
    const xmlNode *text_element = fault_text_element(fault);
    if (text_element == nullptr) {
        return {};
    }
    return element_text(document, text_element).value_or("");
}
