#ifndef AGENT_BASE_METRICS_HISTOGRAM_BASE_H_
#define AGENT_BASE_METRICS_HISTOGRAM_BASE_H_

// The interface of every histogram kind. Histograms are made by the
// factories (Histogram::GetOrCreate and friends), registered once with the
// StatisticsRecorder under their name, and live until the process ends:
// callers may keep the returned pointer for ever and record from any thread.

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>

#include "agent/base/strings/string_piece.h"

namespace kelmbase {

class HistogramSamples;
class Pickle;
class PickleReader;
class Value;

enum HistogramType : int32_t {
  HISTOGRAM = 0,
  LINEAR_HISTOGRAM = 1,
  BOOLEAN_HISTOGRAM = 2,
  CUSTOM_HISTOGRAM = 3,
  SPARSE_HISTOGRAM = 4,
  DUMMY_HISTOGRAM = 5,
};

// "HISTOGRAM", "LINEAR_HISTOGRAM", ... "DUMMY_HISTOGRAM"; "UNKNOWN" for any
// other value.
std::string HistogramTypeName(HistogramType type);

// The name's copy in a process-wide set (made on first use and never
// freed), so the pointer stays valid for the life of the process. Any
// thread.
const char* InternHistogramName(const std::string& name);

class HistogramBase {
 public:
  // Bits of the flags word.
  enum Flags : int32_t {
    kNoFlags = 0x0,
    // Passed by every recorder in this program; nothing interprets it.
    kUmaTargetedHistogramFlag = 0x1,
    // The statistics recorder holds a sample callback for this name.
    kCallbackExists = 0x20,
    // The storage lies in persistent memory.
    kIsPersistent = 0x40,
  };

  // The largest value a bucketed histogram keeps; larger ones are clamped.
  static constexpr int32_t kSampleType_MAX = INT32_MAX;

  // `name` must stay valid for the object's life (an interned name or one
  // inside a persistent record).
  explicit HistogramBase(const char* name);
  HistogramBase(const HistogramBase&) = delete;
  HistogramBase& operator=(const HistogramBase&) = delete;
  virtual ~HistogramBase();

  const char* histogram_name() const { return histogram_name_; }
  int32_t flags() const { return flags_.load(std::memory_order_relaxed); }
  // Atomic OR and AND-NOT of the flags word.
  void SetFlags(int32_t flags);
  void ClearFlags(int32_t flags);

  // Ignores its argument in every kind.
  virtual void NameHook(const void* argument);
  // The 64-bit hash of the name (the id of the unlogged samples).
  virtual uint64_t NameHash() const = 0;
  virtual HistogramType GetHistogramType() const = 0;
  // Whether this histogram was declared with these arguments.
  virtual bool MatchesArguments(int32_t minimum, int32_t maximum,
                                uint32_t bucket_count) const = 0;
  void Add(int32_t value) { AddCount(value, 1); }
  virtual void AddCount(int32_t value, int32_t count) = 0;
  virtual void AddSamples(const HistogramSamples& samples) = 0;
  virtual bool AddSamplesFromPickle(PickleReader* reader) = 0;
  // A bit set of problems found (see the bucketed kinds); 0 when sound.
  virtual int32_t CheckForCorruption(const HistogramSamples& samples) const;
  // Everything recorded so far.
  virtual std::unique_ptr<HistogramSamples> CopySamples() const = 0;
  // What was recorded since the last call, moved to the logged samples.
  virtual std::unique_ptr<HistogramSamples> TakeDelta() = 0;
  // What TakeDelta would return, without moving anything.
  virtual std::unique_ptr<HistogramSamples> CopyFinalDelta() = 0;
  // Appends the graph's "header", a newline and its "body".
  virtual void WriteGraphText(std::string* output) const;
  // A dictionary: "name", "header" and "body" of the text graph.
  virtual Value BuildGraphDict() const;
  // Fatal CHECKs on the sample stores' presence.
  virtual void CheckSampleStorage() const;
  virtual void WriteInfoToPickle(Pickle* pickle) const = 0;
  // Adds "type" and the kind's construction arguments to a dictionary.
  virtual void DescribeParameters(Value* params) const = 0;

  // Runs the recorder's global hook and this name's callback (when its flag
  // is set) with (name, NameHash(), sample).
  void RunSampleCallbacks(int32_t sample) const;

 protected:
  // The name's hash as a signed 32-bit sample, for self-reports.
  static int32_t HashAsSample(StringPiece name);

 private:
  const char* const histogram_name_;
  std::atomic<int32_t> flags_{0};
};

}  // namespace kelmbase

#endif  // AGENT_BASE_METRICS_HISTOGRAM_BASE_H_
