// Whether a library ever ran out of memory. The XML library (and the logger's fetch library)
// allocate through these functions, so that an allocation they could not make is known even where
// they carry on without it: a parse that lost memory can hand back a truncated tree as if it were
// whole, and a fetch says "out of memory" for a bound of its own. The libraries' callbacks leave
// no room for a context, so what they note is kept here, for the one run of the process.
#include "reply.h"

#include <cstdlib>
#include <cstring>

namespace {

bool allocation_failed = false;

void *watched(void *block, std::size_t size)
{
    if (block == nullptr && size != 0) {
        allocation_failed = true;
    }
    return block;
}

} // namespace

void *watched_malloc(std::size_t size)
{
    return watched(std::malloc(size), size);
}

void *watched_realloc(void *block, std::size_t size)
{
    return watched(std::realloc(block, size), size);
}

void *watched_calloc(std::size_t count, std::size_t size)
{
    return watched(std::calloc(count, size), count * size);
}

char *watched_strdup(const char *text)
{
    return static_cast<char *>(watched(::strdup(text), 1));
}

void release_watched(void *block)
{
    std::free(block);
}

void watch_library_memory()
{
    xmlMemSetup(release_watched, watched_malloc, watched_realloc, watched_strdup);
}

bool library_memory_failed()
{
    return allocation_failed;
}
