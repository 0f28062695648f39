// Where the XML library's memory comes from, and whether it ever ran out. The library's
// callbacks leave no room for a context, so what they keep is kept here, for the one run of the
// process.
//
// The library allocates through these functions, so that an allocation it could not make is
// known even where it carries on without it: a parse that lost memory can hand back a truncated
// tree as if it were whole.
//
// With QUAYWATCH_ARENA, the memory is a bump arena of large chunks on huge pages. A program runs
// once: it parses one document, reads it, releases it and exits. The tree is built in one go
// and almost nothing of it is freed before the end, so every block can be kept until the exit
// gives all the chunks back at once; what the arena saves is the allocator's bookkeeping and,
// above all, the page faults of a tree that can be a gigabyte: one fault per 2 MiB page instead
// of one per 4 KiB.
#include "mission.h"

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

std::size_t round_up(std::size_t size, std::size_t multiple)
{
    return (size + multiple - 1) / multiple * multiple;
}

std::size_t slot_size(std::size_t block_size)
{
    return round_up(block_size + header_size, block_alignment);
}

// A small document is read whole within its first 512 KiB of tree: that much comes on small
// pages, since faulting in whole huge pages for the few pages it touches would cost more than
// those pages do.
constexpr std::size_t first_region_size = std::size_t{512} << 10;

char *map_region(std::size_t size)
{
    void *region =
        ::mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    return region != MAP_FAILED ? static_cast<char *>(region) : nullptr;
}

// A region of the given size (a multiple of the chunk size) that starts on a chunk boundary, so
// that the kernel can back it with huge pages where it offers them.
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
    ::madvise(aligned, size, MADV_HUGEPAGE);
    return aligned;
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

void *arena_malloc(std::size_t size)
{
    // No mapping could hold such a block, and rounding its size up could overflow.
    if (size > chunk_size * chunk_size) {
        return watched(nullptr, size);
    }
    const std::size_t needed = slot_size(size);
    if (needed > chunk_size - block_alignment) {
        char *own_chunk = map_chunks(round_up(needed + block_alignment, chunk_size));
        if (own_chunk == nullptr) {
            return watched(nullptr, size);
        }
        return place_block(own_chunk + block_alignment - header_size, size);
    }
    if (next_slot == nullptr || needed > static_cast<std::size_t>(chunk_end - next_slot)) {
        const std::size_t region_size = next_slot == nullptr ? first_region_size : chunk_size;
        char *region = next_slot == nullptr ? map_region(region_size) : map_chunks(region_size);
        if (region == nullptr) {
            return watched(nullptr, size);
        }
        next_slot = region + block_alignment - header_size;
        chunk_end = region + region_size;
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
        slot_size(size) <= static_cast<std::size_t>(chunk_end - slot)) {
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
