#include "common/datalink.h"

#include <cstdlib>
#include <cstring>
#include <limits>
#include <unordered_map>

#include "common/lwlog.h"
#include "common/test_hooks.h"
#include "platform/memory.h"

// The hidden header in front of every object's data. alignas keeps the data behind it aligned
// for any fundamental type, as a plain malloc'ed block would be.
struct alignas(std::max_align_t) DlHeader {
  DlLink* down;  // links in which this object is the master, newest first
  DlLink* up;    // links in which this object is the slave, newest first
  uint32_t nchild;
  uint32_t refcnt;
  uint32_t flags;
  uint32_t pool_class;  // the block pool the object came from; kNoPool for a block of its own
};

struct DlLink {
  uint32_t kind;
  DlHeader* master;
  DlHeader* slave;
  DlLink* mprev;
  DlLink* mnext;
  DlLink* sprev;
  DlLink* snext;
};

namespace {

constexpr const char* kSource = "datalink";

// A root carries one permanent hold on top of its masters.
constexpr uint32_t kFlagRoot = 1u << 0;
// The object is in a ring; its place there is kept in ring_places.
constexpr uint32_t kFlagInRing = 1u << 2;
// The cursor stood on the first link when that link was freed. "The link before it" does not
// exist then, and an empty cursor would end the iteration early; this flag makes dl_next
// resume at the new first link instead.
constexpr uint32_t kFlagCursorRewound = 1u << 1;
// The object has an iteration position in cursors.
constexpr uint32_t kFlagHasCursor = 1u << 3;

// The place of an object in its ring. Few objects are ever in one, so the places are kept
// apart from the headers rather than in every one of them.
struct RingPlace {
  DlHeader* prev;
  DlHeader* next;
  DlRing* owner;
};
std::unordered_map<const DlHeader*, RingPlace> ring_places;

// Iteration positions over the objects' slaves, kept apart from the headers: only the objects
// that are walked (lists) ever have one. The position looked up last is kept at hand, since a
// walk takes many steps over one object.
std::unordered_map<const DlHeader*, DlLink*> cursors;
const DlHeader* cursor_owner = nullptr;
DlLink** cursor_slot = nullptr;

DlNoMemHandler nomem_handler = nullptr;
DlCounts counts;

DlHeader* header_of(const void* data) {
  return reinterpret_cast<DlHeader*>(static_cast<char*>(const_cast<void*>(data)) -
                                     sizeof(DlHeader));
}

void* data_of(DlHeader* h) { return reinterpret_cast<char*>(h) + sizeof(DlHeader); }

[[noreturn]] void out_of_memory(size_t size) {
  if (nomem_handler != nullptr) nomem_handler(size);
  std::exit(3);
}

void* take_block(size_t size) {
  void* block = std::malloc(size);
  if (block == nullptr) out_of_memory(size);
  return block;
}

// ---- Block pools --------------------------------------------------------------------------------
//
// Objects and links are small and many (a load makes several per job), so blocks up to
// kPoolBlockMax bytes come from chunks of kPoolChunkSize bytes, one pool per multiple of
// kPoolGrain; a freed block goes back to its pool's free list for the next block of that size.
// The chunks are regions of the platform, kept for the process. Under AddressSanitizer every block
// is a malloc of its own, so that overflows and leaks stay visible block by block.

#if defined(__SANITIZE_ADDRESS__)
#define DL_BLOCK_PER_MALLOC 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define DL_BLOCK_PER_MALLOC 1
#endif
#endif

constexpr size_t kPoolGrain = alignof(std::max_align_t);
constexpr size_t kPoolBlockMax = 512;
constexpr size_t kPoolChunkSize = platform::kRegionSize;
constexpr uint32_t kPoolClasses = kPoolBlockMax / kPoolGrain;
// Links need no more than pointer alignment: they have a pool of their own, of their exact
// size, behind the pools of objects.
constexpr uint32_t kLinkPool = kPoolClasses;
constexpr size_t kLinkBlock =
    (sizeof(DlLink) + alignof(DlLink) - 1) / alignof(DlLink) * alignof(DlLink);
constexpr uint32_t kNoPool = ~uint32_t{0};

struct FreeBlock {
  FreeBlock* next;
};

struct Pool {
  FreeBlock* free = nullptr;
};

// The unused rest of a chunk that blocks are cut from.
struct Chunk {
  char* next = nullptr;
  size_t left = 0;
};

Pool pools[kPoolClasses + 1];
Chunk object_chunk;  // objects, in multiples of kPoolGrain, so each stays aligned
Chunk link_chunk;

#ifdef DL_BLOCK_PER_MALLOC
constexpr bool kPooling = false;
#else
constexpr bool kPooling = true;
#endif

// The pool of objects of size bytes, header included, or kNoPool when the object is a malloc
// of its own.
uint32_t pool_class_of(size_t size) {
  if (!kPooling || size > kPoolBlockMax) return kNoPool;
  return static_cast<uint32_t>((size + kPoolGrain - 1) / kPoolGrain - 1);
}

void* take_pooled(uint32_t pool_class, size_t size) {
  if (pool_class == kNoPool) return take_block(size);
  Pool& pool = pools[pool_class];
  if (pool.free != nullptr) {
    FreeBlock* block = pool.free;
    pool.free = block->next;
    return block;
  }
  const bool link = pool_class == kLinkPool;
  const size_t rounded = link ? kLinkBlock : (pool_class + 1) * kPoolGrain;
  Chunk& chunk = link ? link_chunk : object_chunk;
  if (chunk.left < rounded) {
    // The rest of the old chunk is too small for this block; it stays unused.
    chunk.next = static_cast<char*>(platform::ReserveRegion(kPoolChunkSize));
    if (chunk.next == nullptr) out_of_memory(kPoolChunkSize);
    chunk.left = kPoolChunkSize;
  }
  void* block = chunk.next;
  chunk.next += rounded;
  chunk.left -= rounded;
  return block;
}

void give_back(void* block, uint32_t pool_class) {
  if (pool_class == kNoPool) {
    std::free(block);
    return;
  }
  auto* free_block = static_cast<FreeBlock*>(block);
  free_block->next = pools[pool_class].free;
  pools[pool_class].free = free_block;
}

void diagnose(int line, const char* function, const char* text) {
  ++counts.diagnostics;
  lwlog_trace(kLwlogDebug, kSource, line, function, "%s", text);
}

DlHeader* make_object(size_t size, uint32_t flags) {
  // A size near SIZE_MAX would wrap the header addition into a small block.
  if (size > std::numeric_limits<size_t>::max() - sizeof(DlHeader)) out_of_memory(size);
  // Every object gets at least one byte of data, so the address handed out always lies inside
  // its block. One past the end would not count as a reference for a leak checker, and every
  // list (size 0) would look leaked.
  const size_t payload = size > 0 ? size : 1;
  const uint32_t pool_class = pool_class_of(sizeof(DlHeader) + payload);
  auto* h = static_cast<DlHeader*>(take_pooled(pool_class, sizeof(DlHeader) + payload));
  std::memset(h, 0, sizeof *h);
  h->flags = flags;
  h->pool_class = pool_class;
  h->refcnt = (flags & kFlagRoot) != 0 ? 1 : 0;
  ++counts.objects;
  return h;
}

DlLink* link_objects(DlHeader* master, DlHeader* slave, uint32_t kind) {
  auto* link = static_cast<DlLink*>(take_pooled(kPooling ? kLinkPool : kNoPool, sizeof(DlLink)));
  link->kind = kind;
  link->master = master;
  link->slave = slave;
  link->mprev = nullptr;
  link->mnext = master->down;
  if (master->down != nullptr) master->down->mprev = link;
  master->down = link;
  link->sprev = nullptr;
  link->snext = slave->up;
  if (slave->up != nullptr) slave->up->sprev = link;
  slave->up = link;
  ++master->nchild;
  ++slave->refcnt;
  ++counts.links;
  return link;
}

void* new_object(size_t size, void* master, uint32_t kind) {
  if (master == nullptr) return data_of(make_object(size, kFlagRoot));
  DlHeader* h = make_object(size, 0);
  link_objects(header_of(master), h, kind);
  return data_of(h);
}

void* slave_of(DlLink* link, uint32_t* kind_out) {
  if (link == nullptr) return nullptr;
  if (kind_out != nullptr) *kind_out = link->kind;
  return data_of(link->slave);
}

// The iteration position of h, made (empty) when it has none.
DlLink*& cursor_of(DlHeader* h) {
  if (h != cursor_owner) {
    cursor_slot = &cursors[h];  // elements stay where they are when the table grows
    cursor_owner = h;
    h->flags |= kFlagHasCursor;
  }
  return *cursor_slot;
}

void forget_cursor(DlHeader* h) {
  if ((h->flags & kFlagHasCursor) == 0) return;
  cursors.erase(h);
  if (cursor_owner == h) {
    cursor_owner = nullptr;
    cursor_slot = nullptr;
  }
  h->flags &= ~kFlagHasCursor;
}

void ring_remove(DlHeader* h) {
  if ((h->flags & kFlagInRing) == 0) return;
  const auto found = ring_places.find(h);
  const RingPlace place = found->second;
  ring_places.erase(found);
  h->flags &= ~kFlagInRing;
  DlRing* ring = place.owner;
  if (--ring->count == 0) {
    ring->first = nullptr;
  } else {
    ring_places[place.prev].next = place.next;
    ring_places[place.next].prev = place.prev;
    if (ring->first == data_of(h)) ring->first = data_of(place.next);
  }
}

}  // namespace

void* dl_new(size_t size) { return new_object(size, nullptr, 0); }

void* dl_alloc(size_t size, void* master, uint32_t kind) { return new_object(size, master, kind); }

char* dl_strdup(const char* text, void* master, uint32_t kind) {
  if (text == nullptr) text = "";
  const size_t size = std::strlen(text) + 1;
  auto* copy = static_cast<char*>(new_object(size, master, kind));
  std::memcpy(copy, text, size);
  return copy;
}

DlLink* dlrel_new(void* master, void* slave, uint32_t kind) {
  if (master == nullptr || slave == nullptr) return nullptr;
  return link_objects(header_of(master), header_of(slave), kind);
}

void* dl_first(void* master, uint32_t* kind_out) {
  if (master == nullptr) return nullptr;
  DlHeader* h = header_of(master);
  h->flags &= ~kFlagCursorRewound;
  DlLink*& cursor = cursor_of(h);
  cursor = h->down;
  return slave_of(cursor, kind_out);
}

void* dl_next(void* master, uint32_t* kind_out) {
  if (master == nullptr) return nullptr;
  DlHeader* h = header_of(master);
  if ((h->flags & kFlagHasCursor) == 0) return nullptr;  // never walked
  DlLink*& cursor = cursor_of(h);
  DlLink* next;
  if (cursor != nullptr) {
    next = cursor->mnext;
  } else if ((h->flags & kFlagCursorRewound) != 0) {
    next = h->down;
  } else {
    return nullptr;
  }
  h->flags &= ~kFlagCursorRewound;
  cursor = next;
  return slave_of(next, kind_out);
}

void dlrel_free(DlLink* link) {
  if (link == nullptr) return;
  DlHeader* master = link->master;
  DlHeader* slave = link->slave;
  // The hold keeps the master alive through the slave's cascade, which may reach back to it.
  ++master->refcnt;

  if ((master->flags & kFlagHasCursor) != 0) {
    DlLink*& cursor = cursor_of(master);
    if (cursor == link) {
      cursor = link->mprev;
      if (link->mprev == nullptr) master->flags |= kFlagCursorRewound;
    }
  }
  if (link->mprev != nullptr) {
    link->mprev->mnext = link->mnext;
  } else {
    master->down = link->mnext;
  }
  if (link->mnext != nullptr) link->mnext->mprev = link->mprev;

  if (link->sprev != nullptr) {
    link->sprev->snext = link->snext;
  } else {
    slave->up = link->snext;
  }
  if (link->snext != nullptr) link->snext->sprev = link->sprev;

  --master->nchild;
  --slave->refcnt;
  std::memset(link, 0, sizeof *link);
  give_back(link, kPooling ? kLinkPool : kNoPool);
  --counts.links;

  if (slave->refcnt == 0) dl_free(data_of(slave));

  if (--master->refcnt == 0) {
    dl_free(data_of(master));
    diagnose(__LINE__, "dlrel_free()",
             "master->refcnt == 0,return function,output parameter = -1.\n");
  }
}

void dl_free(void* object) {
  if (object == nullptr) return;
  DlHeader* h = header_of(object);
  ++h->refcnt;

  // Each removal may cascade, so always take the current head rather than a saved next.
  while (h->up != nullptr) dlrel_free(h->up);
  while (h->down != nullptr) dlrel_free(h->down);

  // Only this free's hold should be left, and the permanent one of a root, which goes with it.
  const uint32_t expected = (h->flags & kFlagRoot) != 0 ? 2 : 1;
  if (h->refcnt != expected) {
    diagnose(__LINE__, "dl_free()", "broken chain,return function,output parameter = -1.\n");
  }
  h->refcnt = 0;
  if (h->nchild != 0) {
    diagnose(__LINE__, "dl_free()", "broken chain,return function,output parameter = -1.\n");
  }

  ring_remove(h);
  forget_cursor(h);
  const uint32_t pool_class = h->pool_class;
  std::memset(h, 0, sizeof *h);
  give_back(h, pool_class);
  --counts.objects;
}

uint32_t dl_nchild(const void* object) { return object != nullptr ? header_of(object)->nchild : 0; }

uint32_t dl_refcnt(const void* object) { return object != nullptr ? header_of(object)->refcnt : 0; }

void dl_set_nomem_handler(DlNoMemHandler handler) { nomem_handler = handler; }

void dl_ring_add(DlRing* ring, void* object) {
  if (ring == nullptr || object == nullptr) return;
  DlHeader* h = header_of(object);
  if ((h->flags & kFlagInRing) != 0) return;
  h->flags |= kFlagInRing;
  if (ring->first == nullptr) {
    ring_places[h] = RingPlace{h, h, ring};
    ring->first = object;
  } else {
    DlHeader* first = header_of(ring->first);
    DlHeader* last = ring_places[first].prev;
    ring_places[h] = RingPlace{last, first, ring};
    ring_places[last].next = h;
    ring_places[first].prev = h;
  }
  ++ring->count;
}

DlCounts dl_counts_for_test() { return counts; }
