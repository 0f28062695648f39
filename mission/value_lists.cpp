// Values written as lists of items. Some services write a list of values as one element whose
// own text is blank and which holds an element for each value (`<stationsDates><string>07:42
// </string><string>07:44</string></stationsDates>`): such an element gives the text of each of
// its items. Values nested deeper than that, or a train at the platform written inside an item
// of a message, are not read: a reply that holds them is refused rather than reported wrong.
#include "mission.h"

namespace {

// "Train à quai" in UTF-8, read by a parser that took it for ISO-8859-1 or windows-1252: the
// à's two bytes become "Ã" and a no-break space.
constexpr std::string_view misdeclared_arrival_text = "Train \xC3\x83\xC2\xA0 quai";

bool has_element_child(const xmlNode *node)
{
    for (const xmlNode *child = node->children; child != nullptr; child = child->next) {
        if (child->type == XML_ELEMENT_NODE) {
            return true;
        }
    }
    return false;
}

// True when an element below `top`, at any depth, has the arrival text as its text.
bool arrival_text_below(const xmlDoc *document, const xmlNode *top)
{
    for (const xmlNode *child = top->children; child != nullptr; child = child->next) {
        if (child->type != XML_ELEMENT_NODE) {
            continue;
        }
        std::string joined;
        if (is_arrival_text(read_element_text(document, child, joined)) ||
            arrival_text_below(document, child)) {
            return true;
        }
    }
    return false;
}

// True when the element is a list whose items hold elements of their own under blank text.
bool items_nested(const xmlDoc *document, const xmlNode *element)
{
    if (!holds_items(document, element)) {
        return false;
    }
    for (const xmlNode *item = element->children; item != nullptr; item = item->next) {
        if (item->type == XML_ELEMENT_NODE && holds_items(document, item)) {
            return true;
        }
    }
    return false;
}

} // namespace

bool is_blank(const std::optional<std::string_view> &text)
{
    return !text || text->find_first_not_of(" \t\r\n") == std::string_view::npos;
}

bool holds_items(const xmlDoc *document, const xmlNode *element)
{
    if (element->type != XML_ELEMENT_NODE || !has_element_child(element)) {
        return false;
    }
    std::string joined;
    return is_blank(read_element_text(document, element, joined));
}

bool entry_values_nested(const xmlDoc *document, const xmlNode *entry, bool arriving)
{
    if (entry->type != XML_ELEMENT_NODE) {
        return false;
    }
    const xmlNode *message = first_child_named(entry, "stationsMessages");
    if (message != nullptr && holds_items(document, message) &&
        arrival_text_below(document, message)) {
        return true;
    }
    if (!arriving) {
        return false;
    }
    for (const xmlNode *child = entry->children; child != nullptr; child = child->next) {
        if (name_is(child, "stationsDates") && items_nested(document, child)) {
            return true;
        }
    }
    const xmlNode *direction = first_child_named(entry, "direction");
    for (const xmlNode *child = direction != nullptr ? direction->children : nullptr;
         child != nullptr; child = child->next) {
        if ((name_is(child, "name") || name_is(child, "sens")) && holds_items(document, child)) {
            return true;
        }
    }
    return false;
}

bool stations_values_nested(const xmlDoc *document, const xmlNode *mission)
{
    const xmlNode *stations = first_child_named(mission, "stations");
    for (const xmlNode *child = stations != nullptr ? stations->children : nullptr;
         child != nullptr; child = child->next) {
        if (name_is(child, "name") && items_nested(document, child)) {
            return true;
        }
    }
    return false;
}

bool message_misdeclared(const xmlDoc *document, const xmlNode *entry)
{
    const xmlNode *message = first_child_named(entry, "stationsMessages");
    if (message == nullptr) {
        return false;
    }
    std::string joined;
    const std::optional<std::string_view> text = read_element_text(document, message, joined);
    return text && is_misdeclared_arrival_text(*text);
}

bool is_misdeclared_arrival_text(std::string_view text)
{
    return text == misdeclared_arrival_text;
}
