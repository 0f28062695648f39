// What the programs share once a reading has given what it found: the reports formatted from the
// values read and printed, the record appended, the messages said, the exit status chosen; and
// what every program's start does to its process.
#pragma once

#include "reply.h"

// What every program does before anything else: a closed standard descriptor is opened on
// /dev/null, so that no file the run opens takes its place; SIGXFSZ is ignored, so that a write
// past the file-size limit fails and is said; and the XML library takes its memory from our
// allocator, which notes any allocation it could not make.
void prepare_process();
// The program name for a usage line: as invoked, or the fallback when there is none.
const char *program_name(int argc, char **argv, const char *fallback);

// The console lines of every arriving mission read, as quaywatch (and quaywatch2) print them:
// each mission's dates, then its direction's name and sens in document order.
std::string every_arrival_lines(const Arrivals &arrivals);
// The same lines of the missions numbered from `first` to before `end`.
std::string every_arrival_lines(const Arrivals &arrivals, std::size_t first, std::size_t end);
// Those lines on standard output, as print_reports writes them, a part at a time.
void print_every_arrival(const Arrivals &arrivals);
// The console lines of the first arriving mission, as quaywatch_per_station prints them: its
// station names, its dates, every direction name, then every sens.
std::string first_arrival_lines(const Arrivals &arrivals);
// The CSV record of the first arriving mission, fields in the same order: each station name
// after a line feed and a comma (an empty one when it has none, so that the record begins a line
// of its own), every other field after a comma. A value that would break the record's columns or
// lines goes in double quotes, its own double quotes doubled.
std::string first_arrival_record(const Arrivals &arrivals);
// The console lines on standard output, written at once. A write that fails is said on standard
// error with its reason ("write error: REASON"), unless the reader went away, as that of `| head`
// does, and gives false; the run goes on as it would have.
bool print_reports(std::string_view console);

// The message of what a reply tool's reading came to, on standard error; none for a reply read.
void say_outcome(const ReplyFound &found);
// The exit status of a reply tool: 0 for a reply refused as a whole, 1 once one was read.
int exit_status(Outcome outcome);
// What quaywatch_per_station and quaywatch-log do with a reply read: its first arrival printed,
// then appended to the log at csvname; gives Outcome::record_not_appended when it is not in.
Outcome log_first_arrival(const ReplyFound &found, const char *csvname);
