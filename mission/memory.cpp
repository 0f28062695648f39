// Where the XML library's memory comes from, and whether it ever ran out. The library's
// callbacks leave no room for a context, so what they keep is kept here, for the one run of the
// process.
//
// The library allocates through these functions, so that an allocation it could not make is
// known even where it carries on without it: a parse that lost memory can hand back a truncated
// tree as if it were whole.
//
// With QUAYWATCH_ARENA, the memory is a bump arena of large chunks. A program runs once: it
// parses one document, reads it, releases it and exits. The tree is built in one go and almost
// nothing of it is freed before the end, so every block can be kept until the exit gives all
// the chunks back at once; what the arena saves is the allocator's bookkeeping and, above all,
// the page faults of a tree that can be a gigabyte. A chunk's pages are put in place ahead of
// the blocks, 64 small pages in one call, rather than one fault at a time. Huge pages would
// save more where the host keeps its memory, but cost far more where it takes freed memory
// back (as hosts with free page reporting do, within seconds), since each huge page must then
// be found and cleared anew: with QUAYWATCH_HUGE_PAGES the chunks are marked for them instead.
#include "mission.h"

#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <new>
#include <sys/mman.h>

namespace {

bool allocation_failed = false;

void *watched(void *block, std::size_t size)
{
    if (block == nullptr && size != 0) {
        allocation_failed = true;
    }
    return block;
}

#if QUAYWATCH_ARENA

constexpr std::size_t chunk_size = std::size_t{2} << 20;
// Each block is preceded by its size, so that realloc knows how much to copy. Slots start 8 bytes
// past a 16-byte boundary, so that the block after the 8-byte header is aligned for any object
// and a slot costs its size plus 8, rounded up to 16: the system allocator's own price.
constexpr std::size_t block_alignment = alignof(std::max_align_t);
constexpr std::size_t header_size = sizeof(std::size_t);

char *next_slot = nullptr;
char *chunk_end = nullptr;
// The end of the pages of the current chunk that are already in place.
char *populated_end = nullptr;

std::size_t round_up(std::size_t size, std::size_t multiple)
{
    return (size + multiple - 1) / multiple * multiple;
}

std::size_t slot_size(std::size_t block_size)
{
    return round_up(block_size + header_size, block_alignment);
}

// A small document is read whole within its first 512 KiB of tree: that much is left to be
// faulted in page by page as it is touched, since populating pages ahead for the few that a
// small tree uses would cost more than those pages do.
constexpr std::size_t first_region_size = std::size_t{512} << 10;
// A chunk's pages are put in place a step at a time ahead of the blocks, so that the tree's
// last chunk holds at most one step of pages it never uses.
constexpr std::size_t population_step = std::size_t{256} << 10;

char *map_region(std::size_t size)
{
    void *region =
        ::mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    return region != MAP_FAILED ? static_cast<char *>(region) : nullptr;
}

#if QUAYWATCH_HUGE_PAGES
void mark_chunks(char *chunks, std::size_t size)
{
    ::madvise(chunks, size, MADV_HUGEPAGE);
}

bool populate(char * /*pages*/, std::size_t /*size*/)
{
    return true;
}
#else
void mark_chunks(char * /*chunks*/, std::size_t /*size*/)
{
}

// A kernel older than the advice (before Linux 5.14) refuses it as unknown, and the pages are
// faulted in as they are touched; any other refusal means the memory is not there to be had.
bool populate(char *pages, std::size_t size)
{
    return ::madvise(pages, size, MADV_POPULATE_WRITE) == 0 || errno == EINVAL;
}
#endif

// A region of the given size (a multiple of the chunk size) that starts on a chunk boundary, so
// that huge pages can back it where they are asked for.
char *map_chunks(std::size_t size)
{
    const std::size_t mapped = size + chunk_size;
    char *start = map_region(mapped);
    if (start == nullptr) {
        return nullptr;
    }
    const std::size_t misalignment = reinterpret_cast<std::uintptr_t>(start) % chunk_size;
    const std::size_t head = misalignment != 0 ? chunk_size - misalignment : 0;
    char *aligned = start + head;
    if (head > 0) {
        ::munmap(start, head);
    }
    const std::size_t tail = mapped - head - size;
    if (tail > 0) {
        ::munmap(aligned + size, tail);
    }
    mark_chunks(aligned, size);
    return aligned;
}

// True once the current chunk's pages are in place up to `end`.
bool populate_through(const char *end)
{
    if (end <= populated_end) {
        return true;
    }
    const std::size_t missing =
        round_up(static_cast<std::size_t>(end - populated_end), population_step);
    const std::size_t left = static_cast<std::size_t>(chunk_end - populated_end);
    const std::size_t step = missing < left ? missing : left;
    if (!populate(populated_end, step)) {
        return false;
    }
    populated_end += step;
    return true;
}

void *place_block(char *slot, std::size_t size)
{
    std::memcpy(slot, &size, sizeof size);
    return slot + header_size;
}

std::size_t block_size(const void *block)
{
    std::size_t size = 0;
    std::memcpy(&size, static_cast<const char *>(block) - header_size, sizeof size);
    return size;
}

// A block larger than a chunk gets chunks of its own, all of whose pages it is about to fill.
void *own_chunks_block(std::size_t size, std::size_t needed)
{
    const std::size_t region_size = round_up(needed + block_alignment, chunk_size);
    char *own_chunks = map_chunks(region_size);
    if (own_chunks == nullptr) {
        return nullptr;
    }
    if (!populate(own_chunks, region_size)) {
        ::munmap(own_chunks, region_size);
        return nullptr;
    }
    return place_block(own_chunks + block_alignment - header_size, size);
}

bool start_region()
{
    const bool first = next_slot == nullptr;
    const std::size_t region_size = first ? first_region_size : chunk_size;
    char *region = first ? map_region(region_size) : map_chunks(region_size);
    if (region == nullptr) {
        return false;
    }
    next_slot = region + block_alignment - header_size;
    chunk_end = region + region_size;
    populated_end = first ? chunk_end : region;
    return true;
}

void *arena_malloc(std::size_t size)
{
    // No mapping could hold such a block, and rounding its size up could overflow.
    if (size > chunk_size * chunk_size) {
        return watched(nullptr, size);
    }
    const std::size_t needed = slot_size(size);
    if (needed > chunk_size - block_alignment) {
        return watched(own_chunks_block(size, needed), size);
    }
    const bool fits =
        next_slot != nullptr && needed <= static_cast<std::size_t>(chunk_end - next_slot);
    if ((!fits && !start_region()) || !populate_through(next_slot + needed)) {
        return watched(nullptr, size);
    }
    char *slot = next_slot;
    next_slot += needed;
    return place_block(slot, size);
}

void arena_free(void * /*block*/)
{
}

void *arena_realloc(void *block, std::size_t size)
{
    if (block == nullptr) {
        return arena_malloc(size);
    }
    const std::size_t old_size = block_size(block);
    char *slot = static_cast<char *>(block) - header_size;
    // The last block of the chunk grows where it stands: the library's buffers grow that way.
    if (slot + slot_size(old_size) == next_slot && size <= chunk_size &&
        slot_size(size) <= static_cast<std::size_t>(chunk_end - slot) &&
        populate_through(slot + slot_size(size))) {
        next_slot = slot + slot_size(size);
        return place_block(slot, size);
    }
    void *moved = arena_malloc(size);
    if (moved != nullptr) {
        std::memcpy(moved, block, old_size < size ? old_size : size);
    }
    return moved;
}

char *arena_strdup(const char *text)
{
    const std::size_t size = std::strlen(text) + 1;
    void *copy = arena_malloc(size);
    if (copy != nullptr) {
        std::memcpy(copy, text, size);
    }
    return static_cast<char *>(copy);
}

void install_allocator()
{
    xmlMemSetup(arena_free, arena_malloc, arena_realloc, arena_strdup);
}

#else

void *watched_malloc(std::size_t size)
{
    return watched(std::malloc(size), size);
}

void *watched_realloc(void *block, std::size_t size)
{
    return watched(std::realloc(block, size), size);
}

char *watched_strdup(const char *text)
{
    return static_cast<char *>(watched(::strdup(text), 1));
}

void release(void *block)
{
    std::free(block);
}

void install_allocator()
{
    xmlMemSetup(release, watched_malloc, watched_realloc, watched_strdup);
}

#endif

} // namespace

void watch_library_memory()
{
    install_allocator();
}

bool library_memory_failed()
{
    return allocation_failed;
}

void require_library_memory()
{
    if (allocation_failed) {
        throw std::bad_alloc();
    }
}
