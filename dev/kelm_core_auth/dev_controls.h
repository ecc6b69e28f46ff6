#ifndef DEV_KELM_CORE_AUTH_DEV_CONTROLS_H_
#define DEV_KELM_CORE_AUTH_DEV_CONTROLS_H_

// The test controls of the development library: environment variables that
// make a call misbehave in one of the ways the tool has to handle, and a file
// that counts the calls. They are read at every call, so a test may change
// them between calls. See README.md beside this file.

namespace kelm_auth_dev {

// What a call does. Every call validates its arguments first; kNormal then
// does the real work and the others replace its outcome.
enum class Behaviour {
  kNormal,         // Variable unset or empty.
  kFail,           // "fail": return false, outputs untouched.
  kEmpty,          // "empty": return true, outputs left empty.
  kTemplateOnly,   // "template_only": model chain of the template alone.
  kGarbage,        // "garbage": model chain text without any certificate.
  kWithKey,        // "with_key": model chain followed by private-key blocks.
  kNoPlaceholder,  // "no_placeholder": model template without the placeholder.
  kKeyOnly,        // "key_only": a wrapped key but no certificate.
  kGarbageCert,    // "garbage_cert": a wrapped key and a non-DER certificate.
  kCorrupt,        // "corrupt": a signature with one bit flipped.
  kHang,           // "hang": never return.
};

// KELM_AUTH_DEV_MODEL_CHAIN: fail, empty, template_only, garbage, with_key,
// no_placeholder.
Behaviour ModelChainBehaviour();

// KELM_AUTH_DEV_GENERATE: fail, empty, key_only, garbage_cert.
Behaviour GenerateBehaviour();

// KELM_AUTH_DEV_SIGN: fail, empty, corrupt, hang.
// Any other value of these variables fails the call (and says so on
// standard error), so that a mistyped test setting cannot pass unnoticed.
Behaviour SignBehaviour();

// KELM_AUTH_DEV_RESULT: the result byte a call returns, written as 0x and
// two hexadecimal digits; -1 when unset or empty. A byte with bit 0 set is
// returned, in place of 1, by a call that succeeds; a byte with bit 0 clear
// makes the call fail at once, outputs untouched, returning that byte. Any
// other text gives 0x00 (and says so on standard error).
int ResultByte();

// Appends the function's name and a newline to the file named by
// KELM_AUTH_DEV_CALL_LOG, when set; one line per call, failed calls too.
// False (and said on standard error) when the line cannot be appended; the
// call then fails.
bool RecordCall(const char* function);

}  // namespace kelm_auth_dev

#endif  // DEV_KELM_CORE_AUTH_DEV_CONTROLS_H_
