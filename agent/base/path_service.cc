#include "agent/base/path_service.h"

#include <unordered_map>

#include "agent/base/base_paths.h"
#include "agent/base/base_paths_posix.h"
#include "agent/base/files/file_path.h"
#include "agent/base/files/file_util.h"
#include "agent/base/synchronization/lock.h"
#include "logging/log.h"

namespace kelmbase {

// One link of the provider chain. The two built-in entries are static; the
// ones added at run time are allocated and live until the process ends.
struct PathProviderEntry {
  PathService::ProviderFunc provider;
  PathProviderEntry* next;
  bool is_static;
};

// The process-wide state behind PathService.
struct PathTable {
  PathTable();

  Lock lock;
  std::unordered_map<int, FilePath> cache;
  std::unordered_map<int, FilePath> overrides;
  PathProviderEntry* providers;
  bool cache_disabled = false;
};

namespace {

PathProviderEntry g_base_provider = {BasePathProvider, nullptr, true};
PathProviderEntry g_posix_provider = {PosixPathProvider, &g_base_provider,
                                      true};

PathTable& GetPathTable() {
  // Never destroyed: lookups may come from static destructors or threads
  // still running at exit.
  static PathTable* table = new PathTable();
  return *table;
}

}  // namespace

PathTable::PathTable() : providers(&g_posix_provider) {
  cache.max_load_factor(1.0f);
  overrides.max_load_factor(1.0f);
}

// static
bool PathService::Get(int key, FilePath* result) {
  if (key == DIR_CURRENT) return GetCurrentDirectory(result);

  PathTable& table = GetPathTable();
  PathProviderEntry* provider;
  {
    ScopedLock scoped_lock(table.lock);
    if (!table.cache_disabled) {
      auto cached = table.cache.find(key);
      if (cached != table.cache.end()) {
        *result = cached->second;
        return true;
      }
    }
    auto overridden = table.overrides.find(key);
    if (overridden != table.overrides.end()) {
      if (!table.cache_disabled) table.cache[key] = overridden->second;
      *result = overridden->second;
      return true;
    }
    provider = table.providers;
  }

  FilePath path;
  for (; provider != nullptr; provider = provider->next) {
    if (provider->provider(key, &path)) break;
    // A provider that declines leaves nothing behind for the next one.
    path = FilePath();
  }
  if (path.empty()) return false;

  if (path.ContainsParentReference()) {
    path = MakeAbsoluteFilePath(path);
    if (path.empty()) return false;
  }
  *result = path;

  ScopedLock scoped_lock(table.lock);
  if (!table.cache_disabled) table.cache[key] = path;
  return true;
}

// static
FilePath PathService::GetRequired(int key) {
  FilePath path;
  if (!Get(key, &path)) LOG(FATAL) << "Failed to get the path for " << key;
  return path;
}

// static
void PathService::AddProvider(ProviderFunc provider, int key_start,
                              int key_end) {
  PathTable& table = GetPathTable();
  ScopedLock scoped_lock(table.lock);
  table.providers = new PathProviderEntry{provider, table.providers, false};
}

// static
void PathService::ResetForTesting() {
  PathTable& table = GetPathTable();
  ScopedLock scoped_lock(table.lock);
  table.cache.clear();
  table.overrides.clear();
  while (!table.providers->is_static) {
    PathProviderEntry* added = table.providers;
    table.providers = added->next;
    delete added;
  }
}

}  // namespace kelmbase
