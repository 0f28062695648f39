// Name match, element text and the arrival test.
#include "mission.h"

#include <cstring>

namespace {

// "Train à quai", with the à in UTF-8: 13 bytes.
constexpr std::string_view arrival_text = "Train \xC3\xA0 quai";

void append_piece(std::optional<std::string> &text, const xmlChar *piece)
{
    if (piece == nullptr) {
        return;
    }
    if (!text) {
        text.emplace();
    }
    text->append(reinterpret_cast<const char *>(piece));
}

// One growing buffer for the whole text keeps the cost linear in the number of pieces, however
// many entity references an element holds.
void append_list_text(const xmlDoc *document, const xmlNode *list, std::optional<std::string> &text)
{
    for (const xmlNode *node = list; node != nullptr; node = node->next) {
        if (node->type == XML_TEXT_NODE || node->type == XML_CDATA_SECTION_NODE) {
            append_piece(text, node->content);
        } else if (node->type == XML_ENTITY_REF_NODE) {
            const xmlEntity *entity = xmlGetDocEntity(document, node->name);
            if (entity != nullptr) {
                append_list_text(document, entity->children, text);
            } else {
                append_piece(text, node->content);
            }
        }
    }
}

} // namespace

bool is_element_name(const xmlChar *name, const char *element_name)
{
    // A scan compares every node it passes, and most names differ at the first byte already.
    const auto *text = reinterpret_cast<const char *>(name);
    return text != nullptr && text[0] == element_name[0] && std::strcmp(text, element_name) == 0;
}

bool name_is(const xmlNode *node, const char *element_name)
{
    return is_element_name(node->name, element_name);
}

const xmlNode *first_child_named(const xmlNode *parent, const char *element_name)
{
    for (const xmlNode *child = parent->children; child != nullptr; child = child->next) {
        if (name_is(child, element_name)) {
            return child;
        }
    }
    return nullptr;
}

std::optional<std::string_view> read_element_text(const xmlDoc *document, const xmlNode *element,
                                                  std::string &joined)
{
    const xmlNode *piece = element->children;
    const bool one_piece = piece != nullptr && piece->next == nullptr &&
                           (piece->type == XML_TEXT_NODE || piece->type == XML_CDATA_SECTION_NODE);
    if (one_piece) {
        if (piece->content == nullptr) {
            return std::nullopt;
        }
        return std::string_view(reinterpret_cast<const char *>(piece->content));
    }
    std::optional<std::string> text;
    append_list_text(document, piece, text);
    if (!text) {
        return std::nullopt;
    }
    joined = std::move(*text);
    return std::string_view(joined);
}

std::optional<std::string> list_text(const xmlDoc *document, const xmlNode *list)
{
    std::optional<std::string> text;
    append_list_text(document, list, text);
    return text;
}

std::optional<std::string> element_text(const xmlDoc *document, const xmlNode *element)
{
    std::string joined;
    const std::optional<std::string_view> text = read_element_text(document, element, joined);
    if (!text) {
        return std::nullopt;
    }
    return std::string(*text);
}

bool train_arrives(const xmlDoc *document, const xmlNode *node)
{
    const xmlNode *message = first_child_named(node, "stationsMessages");
    if (message == nullptr) {
        return false;
    }
    std::string joined;
    return is_arrival_text(read_element_text(document, message, joined));
}

bool is_arrival_text(const std::optional<std::string_view> &text)
{
    return text && *text == arrival_text;
}
