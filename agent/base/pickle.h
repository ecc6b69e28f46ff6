#ifndef AGENT_BASE_PICKLE_H_
#define AGENT_BASE_PICKLE_H_

#include <cstddef>
#include <cstdint>
#include <string>

#include "agent/base/memory/ref_counted.h"
#include "agent/base/memory/scoped_refptr.h"
#include "agent/base/strings/string_piece.h"

namespace kelmbase {

class PickleReader;

// A flat serialisation buffer: a header holding the payload size, then
// fields that each start at a payload offset that is a multiple of 4, all in
// host byte order:
//
//   int32      4 bytes
//   int64      8 bytes (aligned to 4 only)
//   bytes      the bytes, then zeros up to the next multiple of 4
//   string     int32 length n, then n bytes and zeros as for bytes
//
// A pickle is built by appending and read with a separate PickleReader. A
// pickle can also be a read-only view over bytes that came from elsewhere
// (a message, a file); such a view never copies, frees or grows them.
//
// A pickle and its readers belong to one thread at a time.
class Pickle {
 public:
  // Data that would travel beside the bytes (a descriptor, for example).
  // Pickles of this library carry none; see AddAttachment().
  class Attachment : public RefCountedThreadSafe<Attachment> {
   public:
    Attachment();
    Attachment(const Attachment&) = delete;
    Attachment& operator=(const Attachment&) = delete;

   protected:
    friend class RefCountedThreadSafe<Attachment>;
    virtual ~Attachment();
  };

  // The header in front of the payload. Pickles written here have exactly
  // this header; a view accepts a longer one (see the view constructor).
  struct Header {
    uint32_t payload_size;  // Bytes of payload after the header.
  };

  // `capacity_after_header()` of a read-only view.
  static constexpr size_t kCapacityReadOnly = SIZE_MAX;

  // An empty writable pickle with room for 64 payload bytes.
  Pickle();

  // A read-only view over `length` bytes at `data`, which must outlive the
  // pickle. The header size is taken as `length` minus the stored payload
  // size, so the view is valid only when 4 <= length, payload size < length
  // and the difference is a multiple of 4. Otherwise the view is empty and
  // every read from it fails.
  Pickle(const char* data, size_t length);

  Pickle(const Pickle&) = delete;
  Pickle& operator=(const Pickle&) = delete;

  virtual ~Pickle();

  // Append one field. Writing to a read-only view is a fatal CHECK.
  void WriteInt(int32_t value);
  void WriteInt64(int64_t value);
  // `length` bytes and their zero padding; `length` must not be negative
  // (fatal CHECK).
  void WriteBytes(const void* data, int length);
  // The length as an int32, then the bytes as WriteBytes() writes them. The
  // text must be shorter than 2^31 bytes (fatal CHECK).
  void WriteString(StringPiece value);

  // Makes room for `new_capacity` payload bytes (rounded up to a multiple of
  // 64); contents are kept. A read-only view cannot grow (fatal CHECK).
  void Resize(size_t new_capacity);

  // Attachments are not supported: AddAttachment() releases the reference
  // it was given and returns false; the other two return false.
  virtual bool AddAttachment(scoped_refptr<Attachment> attachment);
  virtual bool GetAttachment(PickleReader* reader,
                             scoped_refptr<Attachment>* attachment) const;
  virtual bool HasAttachments() const;

  // The whole pickle, header and payload, as it goes on the wire; null and
  // 0 for an empty view.
  const void* data() const { return header_; }
  size_t size() const;

  // The header size: 4 for a writable pickle, derived for a view, 0 for an
  // empty view.
  size_t header_size() const { return header_size_; }
  // The header's payload size; 0 for an empty view.
  size_t payload_size() const;
  // The payload; null for an empty view.
  const char* payload() const;
  // Payload room of the buffer, or kCapacityReadOnly for a view.
  size_t capacity_after_header() const { return capacity_after_header_; }

 private:
  // Appends `length` bytes padded to a multiple of 4 with zeros.
  void WriteBytesCommon(const void* data, size_t length);

  // Header followed by payload; null for an empty view. Not necessarily
  // aligned for a view, so the header is read and written with memcpy.
  char* header_ = nullptr;
  size_t header_size_ = 0;
  size_t capacity_after_header_ = 0;
  size_t write_offset_ = 0;
};

// A read cursor over a pickle's payload. The pickle must outlive the reader
// and must not grow while it is in use.
//
// A read returns true and stores its field only when the whole field is
// there; a failed read moves the reader to the end, so every later read
// fails too.
class PickleReader {
 public:
  explicit PickleReader(const Pickle& pickle);

  bool ReadInt(int32_t* result);
  bool ReadInt64(int64_t* result);
  bool ReadString(std::string* result);

 private:
  // Copies `size` bytes at the cursor and advances; fails when fewer remain.
  bool ReadFixed(void* result, size_t size);
  size_t Remaining() const { return end_index_ - read_index_; }

  const char* payload_;
  size_t read_index_ = 0;
  size_t end_index_;
};

}  // namespace kelmbase

#endif  // AGENT_BASE_PICKLE_H_
