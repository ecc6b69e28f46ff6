#include "agent/net/cert/pem.h"

#include "agent/base/base64.h"
#include "agent/base/strings/string_printf.h"
#include "agent/base/strings/string_util.h"

namespace net {

namespace {

const char kPemMarker[] = "-----BEGIN ";
// The marker's length and one byte more: how far the search moves past a
// marker of no allowed type.
constexpr size_t kSkipAfterUnknownMarker = sizeof(kPemMarker);

}  // namespace

PEMTokenizer::PEMTokenizer(kelmbase::StringPiece input,
                           const std::vector<std::string>& allowed_block_types)
    : str_(input), pos_(0) {
  for (const std::string& type : allowed_block_types) {
    PEMType allowed;
    allowed.type = type;
    allowed.header = kelmbase::FormatString("-----BEGIN %s-----", type.c_str());
    allowed.footer = kelmbase::FormatString("-----END %s-----", type.c_str());
    block_types_.push_back(std::move(allowed));
  }
}

PEMTokenizer::~PEMTokenizer() = default;

bool PEMTokenizer::GetNext() {
  while (pos_ != kelmbase::StringPiece::npos) {
    pos_ = str_.find(kPemMarker, pos_);
    if (pos_ == kelmbase::StringPiece::npos)
      return false;

    const PEMType* found = nullptr;
    const kelmbase::StringPiece rest = str_.substr(pos_);
    for (const PEMType& type : block_types_) {
      if (kelmbase::StartsWith(rest, type.header, kelmbase::kExact)) {
        found = &type;
        break;
      }
    }
    if (!found) {
      pos_ += kSkipAfterUnknownMarker;
      continue;
    }

    const size_t footer_pos = str_.find(found->footer, pos_);
    if (footer_pos == kelmbase::StringPiece::npos) {
      pos_ = kelmbase::StringPiece::npos;
      return false;
    }

    const size_t body_start = pos_ + found->header.size();
    const kelmbase::StringPiece body =
        str_.substr(body_start, footer_pos - body_start);
    pos_ = footer_pos + found->footer.size();
    block_type_ = found->type;

    // Line breaks vanish; any other whitespace run stays as one space,
    // which Base64 then refuses.
    const std::string base64 =
        kelmbase::SqueezeWhitespaceRuns(body, /*trim_line_break_runs=*/true);
    if (kelmbase::Base64Decode(base64, &data_))
      return true;
  }
  return false;
}

}  // namespace net
