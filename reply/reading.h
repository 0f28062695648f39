// What one reading of a reply holds while its parse goes: the walk to the mission list, the
// entries consumed, and what the building of the tree knows of the entry open now. The tree is
// built only where the reading reads it; the rest of an entry is parsed and checked as ever, and
// what the reading needs of it is taken as the parse goes by.
#pragma once

#include "reply.h"

#include <libxml/parser.h>

#include <array>

// How an element inside an entry of the list is built: whole; as an entry, a direction or a
// stations list, keeping only the children that are read; or not at all.
// An entry's first message may be held back too, unbuilt.
enum class Build : std::uint8_t { whole, entry, direction, stations, skipped, held };
// What an element's first child named stationsMessages has said so far.
enum class FirstMessage : std::uint8_t { none, open, arriving, not_arriving };

// The names that the building of an entry tells apart.
enum class ReadName : std::uint8_t { other, message, dates, direction, stations, name, sens };
constexpr std::size_t read_name_count = 6;

// Whether the first message of an entry held back is held too: open, or closed with its text.
enum class HeldMessage : std::uint8_t { none, open, closed };
// The names of an element held back, from the parser's dictionary, which lasts the parse.
struct HeldNames {
    const xmlChar *local_name = nullptr;
    const xmlChar *prefix = nullptr;
    const xmlChar *namespace_name = nullptr;
};

// An element open inside the entry being built now.
struct OpenElement {
    Build build;
    FirstMessage first_message = FirstMessage::none;
    bool direction_seen = false;
    bool stations_seen = false;
    // The element is the first child named stationsMessages of its parent: its text is gathered,
    // as an element's text is read, to tell whether it reads as the arrival text. It is gathered
    // at the end of the text of the elements open above it, from here on.
    bool gathering = false;
    std::size_t text_start = 0;
};

// Everything one reading holds, from the parse's first callback to its outcome; the parser
// carries it as its user data.
struct ReplyReading {
    // The parse of the reply itself; an entity's replacement text is parsed by another.
    xmlParserCtxt *parser;
    Layout layout;
    Wanted wanted;
    Sought sought;
    // The read names as the parser's dictionary holds them, which is where it takes the name of
    // every element from; none where the dictionary could not take them.
    std::array<const xmlChar *, read_name_count> interned_names{};
    bool names_interned = false;
    // The list's container, once the walk down to it is settled.
    xmlNode *container = nullptr;
    // The container is the node at level 3, which a child named stationsMessages still to come
    // would make a mission of a bare list: what a mission's reading takes of it stays meanwhile.
    bool may_be_mission = false;
    bool direction_kept = false;
    bool stations_kept = false;
    // The container has closed, and all its entries are consumed.
    bool list_done = false;
    // A fault's message lies in what the walk takes for the list: it all stays.
    bool keep_entries = false;
    // The entry consumed last, left in the tree while the parser may still add after it.
    xmlNode *last_consumed = nullptr;
    // The first examined node that stays in the tree, where the search outside the list stops.
    const xmlNode *first_kept = nullptr;
    bool message_kept = false;
    bool examined = false;
    // What the entries gave.
    Arrivals arrivals{};
    // The reading of the first arrival examines nothing after it.
    bool arrival_examined = false;
    // An examined entry that is no mission holds one whose train is at the platform.
    bool missed_inside = false;
    // What refuses the reply whole, in this order of precedence.
    bool encoded = false;
    bool nested = false;
    bool misdeclared = false;
    bool out_of_memory = false;
    // The elements open inside the entry built in part now, the entry first; empty elsewhere,
    // and inside an entry built whole.
    std::vector<OpenElement> open_elements{};
    // The depth inside an element that is neither built nor searched, with everything in it.
    std::size_t unread_depth = 0;
    // The text of the first messages open, one after the other.
    std::string gathered_text{};
    // The entry built in part last, and whether an element below it, built or not, has its
    // train at the platform.
    const xmlNode *partial_entry = nullptr;
    bool arrival_below_entry = false;
    // The entry open is held back unbuilt, having no attributes and no namespaces of its own: it
    // is built, with its first message, as soon as anything in it is, and never when nothing is.
    bool entry_held = false;
    HeldNames held_entry{};
    HeldMessage message_held = HeldMessage::none;
    HeldNames held_message{};
    std::string held_message_text{};
};

bool with_stations(const ReplyReading &reading);
// Reads what an element that has just ended completes: an entry of the list, or the list.
void element_complete(ReplyReading &reading, xmlNode *element);
// Examines an entry of the list that was never built, once what came before it in the list is:
// one whose message (none when it has none) does not arrive, with no attributes there or on the
// entry, and no element in the message; arrival_inside tells whether an element inside it has
// its train at the platform.
void examine_unbuilt_entry(ReplyReading &reading, bool has_message, bool message_misdeclared,
                           bool arrival_inside);
// Hands the parse's callbacks to the building of the tree, for the reading the parser carries.
void attach_building(xmlParserCtxt *parser, ReplyReading &reading);
