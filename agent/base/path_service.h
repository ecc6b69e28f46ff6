#ifndef AGENT_BASE_PATH_SERVICE_H_
#define AGENT_BASE_PATH_SERVICE_H_

#include "agent/base/files/file_path.h"

namespace kelmbase {

// Maps integer keys to well-known paths. A lookup is answered from a cache,
// then from overrides, then by asking the registered providers, newest
// first, until one answers. Answers are cached for the life of the process,
// except for DIR_CURRENT, which always reflects the working directory.
// Safe to use from any thread.
class PathService {
 public:
  // A provider answers `key` by storing a path in `result` and returning
  // true, or returns false to let the next provider try. An answer with an
  // empty path is a failure of the whole lookup. Providers run without any
  // lock held, so they may look up other keys themselves.
  using ProviderFunc = bool (*)(int key, FilePath* result);

  PathService() = delete;

  // Stores the path for `key` in `result`. False if no provider knows the
  // key or the path cannot be had. An answer that holds a parent reference
  // is resolved to its canonical absolute form, and fails if nothing exists
  // there; other answers, relative ones too, are returned as given.
  static bool Get(int key, FilePath* result);

  // The path for `key`; ends the process if it cannot be had.
  static FilePath GetRequired(int key);

  // Puts `provider` in front of all earlier ones. The key range documents
  // what the provider serves; it is not used to route lookups.
  static void AddProvider(ProviderFunc provider, int key_start, int key_end);

  // Test hook: forgets every cached answer and override and drops the
  // providers that AddProvider added, as in a fresh process. Only while no
  // other thread uses the service.
  static void ResetForTesting();
};

}  // namespace kelmbase

#endif  // AGENT_BASE_PATH_SERVICE_H_
