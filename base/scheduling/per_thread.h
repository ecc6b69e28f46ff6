#ifndef BASE_SCHEDULING_PER_THREAD_H_
#define BASE_SCHEDULING_PER_THREAD_H_

// A small per-thread slot store with destructors, for code that runs below
// the thread library's own thread-local storage (scheduler hooks). Each
// thread has 64 pointer-sized slots; slot 0 marks an initialised thread. A
// key is a slot's byte offset, handed out once per process and never given
// back.

#include <cstddef>

class PerThread {
 public:
  static constexpr int kPerThreadSlots = 64;

  using Destructor = void (*)(void*);

  // A caller-owned link of a thread's exit list. The caller sets `argument`
  // before handing it to AtThreadExit and keeps the node alive until the
  // thread ends.
  struct ExitNode {
    ExitNode* next = nullptr;
    void (*function)(void*) = nullptr;
    void* argument = nullptr;
  };

  // Assigns `*key` a slot (its byte offset) with `destructor`, unless it has
  // one already. The 64th request is fatal: keys 1 to 63 exist. Any thread.
  static void NewKey(int* key, Destructor destructor);

  // Prepares the calling thread's slots and binds them to the thread key,
  // so that the destructors run when the thread ends.
  static void InitThread();
  static bool IsThreadInitialized();

  // The calling thread's value for `key` (null when never set).
  static void* Get(int key);
  static void Set(int key, void* value);

  // Runs function(node->argument) when the calling thread ends, newest
  // first.
  static void AtThreadExit(ExitNode* node, void (*function)(void*));

  // The thread key's destructor: gives every slot with a destructor and a
  // value to that destructor, clearing the slot first, in up to 4 passes (a
  // destructor may fill another slot); then the thread counts as
  // uninitialised.
  static void KeyDest(void* slots);
};

#endif  // BASE_SCHEDULING_PER_THREAD_H_
