// Linked object store: reference-counted heap objects that hold each other through typed links.
//
// An object is a block of caller data behind a hidden header; callers only ever see the address
// of the data. A link joins a master (the holder) to a slave (the held object) and carries the
// caller's relation kind. An object lives while at least one link holds it, or while it is a
// root. Freeing an object releases its links, and every object that thereby loses its last
// master is freed in turn, depth first.
//
// Reference-count contract:
//   - refcnt(obj) == number of masters of obj (its incoming links), plus 1 for a root; while a
//     free is running, holds taken by the free are counted too.
//   - nchild(obj) == number of slaves of obj (its outgoing links).
//   - A slave whose refcnt drops to 0 is freed at once. A root never drops to 0 by losing links.
//   - Objects that hold each other in a cycle keep each other alive: counting cannot reclaim a
//     cycle that nothing else holds. Break it with dlrel_free or dl_free.
//   - The store does not lock: every call comes from one thread.
//
// Allocation never fails visibly: when the heap is exhausted, the registered handler (if any)
// runs and the process ends with exit code 3. No routine returns a null object, except where a
// routine below says so for an absent argument or the end of an iteration.
#pragma once

#include <cstddef>
#include <cstdint>
#include <new>
#include <type_traits>

/// One link between a master and a slave. Opaque; the store owns it.
struct DlLink;

/// The relation kind used throughout this command.
inline constexpr uint32_t kDlKind = 1;

/// Makes a root object with size bytes of caller data. The data is not cleared. The root carries
/// one permanent hold (refcnt 1), so no cascade ever frees it: only dl_free does.
/// Ownership: the caller owns the root and must release it with dl_free.
void* dl_new(size_t size);

/// Makes an object with size bytes of caller data (not cleared) and links it as a slave of master
/// with kind; refcnt 1. A size of 0 gives an object that serves as a list. The data is aligned
/// for any fundamental type.
/// Ownership: master holds the new object; it is freed with the last link that holds it.
/// REQUIRES: master is a live object, or nullptr, which makes a root as dl_new does.
void* dl_alloc(size_t size, void* master, uint32_t kind);

/// Makes an object whose data is a copy of text with its terminator, linked under master as
/// dl_alloc links it. An absent text is copied as "".
/// REQUIRES: master is a live object, or nullptr (a root, as in dl_alloc).
char* dl_strdup(const char* text, void* master, uint32_t kind);

/// Links slave under a further master with kind: the link goes in front of master's slaves (so
/// iteration returns the slaves newest first) and in front of slave's masters; nchild(master)
/// and refcnt(slave) each grow by 1. Returns the link, valid until it is freed by dlrel_free or
/// by the free of either end; nullptr, linking nothing, when master or slave is absent.
/// REQUIRES: master and slave are live objects.
DlLink* dlrel_new(void* master, void* slave, uint32_t kind);

/// Starts an iteration over master's slaves, newest link first: returns the first slave and
/// stores its link's kind in *kind_out when kind_out is given; nullptr when master has no
/// slaves or is absent. Each object has one cursor, so one iteration at a time per object.
void* dl_first(void* master, uint32_t* kind_out);

/// Returns the next slave of the iteration that dl_first started (storing the link's kind as
/// dl_first does), or nullptr at the end. After the end, and before any dl_first, it keeps
/// returning nullptr until the next dl_first. Links freed during an iteration, the current one
/// included, do not disturb it: the iteration goes on with the slave that followed.
void* dl_next(void* master, uint32_t* kind_out);

/// Removes one link. A slave that loses its last master is freed, with its own cascade. A master
/// that is left with no master and no hold (possible only through a cycle) is freed as well, and
/// that is traced as an inconsistency. An absent link does nothing.
/// REQUIRES: link is live (returned by dlrel_new and not yet freed).
void dlrel_free(DlLink* link);

/// Frees object whatever holds it: removes every link to its masters, then every link to its
/// slaves, freeing each slave that loses its last master (depth first), takes the object out
/// of its ring, and releases the block. An absent object does nothing. A count found
/// inconsistent on the way is traced; the object is freed all the same.
/// REQUIRES: object is live; no pointer to it or to a slave freed with it is used afterwards.
void dl_free(void* object);

/// The number of slaves of object (0 for an absent object).
uint32_t dl_nchild(const void* object);

/// The number of masters of object, plus 1 for a root (0 for an absent object).
uint32_t dl_refcnt(const void* object);

/// Called with the size of the failing request when the heap is exhausted, before the process
/// ends with exit code 3. nullptr (the default) registers no handler.
using DlNoMemHandler = void (*)(size_t size);
void dl_set_nomem_handler(DlNoMemHandler handler);

/// An owner's ring of objects, kept through the objects' headers. An object is in at most one
/// ring; dl_free takes it out. The ring does not hold its members.
struct DlRing {
  void* first = nullptr;
  uint32_t count = 0;
};

/// Puts object at the end of ring. Does nothing for an absent argument or an object already in
/// a ring.
void dl_ring_add(DlRing* ring, void* object);

/// Makes a value-initialized T as a slave of master (a root when master is nullptr). The store
/// never runs destructors, so T must be trivially destructible.
template <class T>
T* dl_make(void* master, uint32_t kind) {
  static_assert(std::is_trivially_destructible_v<T>, "the store never runs destructors");
  static_assert(alignof(T) <= alignof(std::max_align_t), "the store aligns for max_align_t");
  return new (dl_alloc(sizeof(T), master, kind)) T{};
}
