// Opens a persistent segment made of arbitrary bytes, walks its iterable
// list and rebuilds, records into and prints every histogram found. Nothing
// may read or write outside the segment, trap or hang, whatever the bytes.

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "absl/flags/flag.h"
#include "agent/base/metrics/histogram_base.h"
#include "agent/base/metrics/histogram_samples.h"
#include "agent/base/metrics/persistent_histogram_store.h"
#include "agent/base/metrics/persistent_memory_allocator.h"
#include "logging/log_flags.h"

namespace {

using kelmbase::PersistentBlockIterator;
using kelmbase::PersistentHistogramStore;
using kelmbase::PersistentMemoryAllocator;

// Larger inputs add nothing the iterator has not seen on smaller ones.
constexpr size_t kMaxSegment = 64 * 1024;
// Page sizes to try, chosen by the last input byte.
constexpr size_t kPageSizes[] = {0, 256, 4096};

void WalkSegment(PersistentHistogramStore* store) {
  PersistentMemoryAllocator* allocator = store->memory_allocator();
  PersistentBlockIterator iter(allocator);
  uint32_t type = 0;
  // A damaged list is cut short by the iterator itself; the cap only
  // bounds the time of one input.
  for (int i = 0; i < 4096; ++i) {
    const uint32_t ref = iter.GetNext(&type);
    if (ref == 0) break;
    allocator->GetAllocSize(ref);
    if (type != PersistentHistogramStore::kTypeIdHistogram) continue;
    std::unique_ptr<kelmbase::HistogramBase> histogram =
        store->GetHistogram(ref);
    if (!histogram) continue;
    histogram->Add(static_cast<int32_t>(ref));
    histogram->AddCount(7, 3);
    std::string text;
    histogram->WriteGraphText(&text);
    histogram->TakeDelta();
  }
  // Allocation over whatever the header says.
  const uint32_t fresh = allocator->Allocate(24, 0x12345678);
  allocator->MakeIterable(fresh);
  allocator->ChangeType(fresh, 0, 0x12345678, true);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const bool quiet = [] {
    // Every damaged input logs its corruption; keep the output readable.
    absl::SetFlag(&FLAGS_minloglevel, 3);
    return true;
  }();
  (void)quiet;
  if (size < sizeof(kelmbase::PersistentSegmentHeader) + 1) return 0;
  const size_t page_size = kPageSizes[data[size - 1] % 3];
  const size_t segment_size = std::min(size - 1, kMaxSegment) & ~size_t{7};
  if (segment_size < sizeof(kelmbase::PersistentSegmentHeader)) return 0;

  std::vector<uint64_t> memory(segment_size / 8);
  memcpy(memory.data(), data, segment_size);
  PersistentHistogramStore store(std::make_unique<PersistentMemoryAllocator>(
      memory.data(), segment_size, page_size, /*read_only=*/false));
  WalkSegment(&store);

  // The same bytes read-only: nothing may be written.
  memcpy(memory.data(), data, segment_size);
  PersistentMemoryAllocator reader(memory.data(), segment_size, page_size,
                                   /*read_only=*/true);
  PersistentBlockIterator iter(&reader);
  uint32_t type = 0;
  for (int i = 0; i < 4096 && iter.GetNext(&type) != 0; ++i) {
  }
  if (memcmp(memory.data(), data, segment_size) != 0) __builtin_trap();
  return 0;
}
