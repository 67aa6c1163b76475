// program_heap.cpp -- malloc, calloc, realloc and free for the Linux self-extractor
// program, in place of musl's allocator (which the program's static link then leaves
// out: it would take a ninth of the bytes the program may have in front of its archive).
//
// The program is single-threaded and its blocks are few: the decoder's window and work
// space, a list record per entry, a buffer per open file. Small blocks come in power-of-
// two classes of 16 bytes to 64 KiB, carved from 256 KiB regions that the kernel maps, and
// go back to a free list of their class (and are handed out again before anything new
// is carved); larger ones are mapped and unmapped one by one. Every block is preceded by
// a 16-byte header holding its class, or its mapped length, so that free needs no search.
#include <sys/mman.h>

#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <cstring>

namespace {

constexpr size_t kHeader = 16;                // keeps every block 16-byte aligned
constexpr int kClasses = 13;                  // 16 bytes << 0 .. 12: up to 64 KiB
constexpr size_t kLargest = size_t{16} << (kClasses - 1);
constexpr size_t kRegion = size_t{256} << 10;
constexpr size_t kMapped = ~size_t{0};        // the class word of a block mapped alone

struct Header {
    size_t size_class;  // 0 .. kClasses - 1, or kMapped
    size_t mapped;      // the mapping's whole length when mapped alone
};
static_assert(sizeof(Header) <= kHeader);

struct FreeBlock {
    FreeBlock* next;
};

struct Heap {
    FreeBlock* free_lists[kClasses] = {};
    uint8_t* carve = nullptr;      // the unused rest of the current region
    size_t carve_left = 0;
};
Heap g_heap;

Header* HeaderOf(void* block) { return reinterpret_cast<Header*>(static_cast<uint8_t*>(block) - kHeader); }

void* MapPages(size_t length) {
    void* p = ::mmap(nullptr, length, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    return p == MAP_FAILED ? nullptr : p;
}

void* Allocate(size_t size) {
    if (size > kLargest - kHeader) {
        if (size > SIZE_MAX - kHeader - 4096) {
            errno = ENOMEM;
            return nullptr;
        }
        const size_t length = (size + kHeader + 4095) & ~size_t{4095};
        auto* base = static_cast<uint8_t*>(MapPages(length));
        if (!base) {
            errno = ENOMEM;
            return nullptr;
        }
        auto* h = reinterpret_cast<Header*>(base);
        h->size_class = kMapped;
        h->mapped = length;
        return base + kHeader;
    }
    // (room for the free list's link in every block, however small)
    const size_t need = (size < sizeof(FreeBlock) ? sizeof(FreeBlock) : size) + kHeader;
    int size_class = 0;
    while ((size_t{16} << size_class) < need) ++size_class;
    if (FreeBlock* reused = g_heap.free_lists[size_class]) {
        g_heap.free_lists[size_class] = reused->next;
        return reused;
    }
    const size_t whole = size_t{16} << size_class;
    if (g_heap.carve_left < whole) {
        // The rest of the old region stays unused: it is smaller than this block.
        auto* region = static_cast<uint8_t*>(MapPages(kRegion));
        if (!region) {
            errno = ENOMEM;
            return nullptr;
        }
        g_heap.carve = region;
        g_heap.carve_left = kRegion;
    }
    uint8_t* base = g_heap.carve;
    g_heap.carve += whole;
    g_heap.carve_left -= whole;
    auto* h = reinterpret_cast<Header*>(base);
    h->size_class = static_cast<size_t>(size_class);
    return base + kHeader;
}

size_t UsableSize(void* block) {
    const Header* h = HeaderOf(block);
    return h->size_class == kMapped ? h->mapped - kHeader : (size_t{16} << h->size_class) - kHeader;
}

void Release(void* block) {
    if (!block) return;
    Header* h = HeaderOf(block);
    if (h->size_class == kMapped) {
        ::munmap(h, h->mapped);
        return;
    }
    auto* f = static_cast<FreeBlock*>(block);
    f->next = g_heap.free_lists[h->size_class];
    g_heap.free_lists[h->size_class] = f;
}

}  // namespace

extern "C" {

void* malloc(size_t size) { return Allocate(size); }

void free(void* block) { Release(block); }

void* calloc(size_t count, size_t size) {
    if (size != 0 && count > SIZE_MAX / size) {
        errno = ENOMEM;
        return nullptr;
    }
    const size_t total = count * size;
    void* block = Allocate(total);
    if (block) std::memset(block, 0, total);
    return block;
}

void* realloc(void* block, size_t size) {
    if (!block) return Allocate(size);
    const size_t usable = UsableSize(block);
    if (size <= usable) return block;
    void* moved = Allocate(size);
    if (!moved) return nullptr;
    std::memcpy(moved, block, usable);
    Release(block);
    return moved;
}

}  // extern "C"
