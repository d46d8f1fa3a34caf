// The bytes that one key press sends on a terminal. Letters send one byte;
// function, arrow and editing keys send an escape sequence (F5 is
// ESC [ 1 5 ~), Alt with a key sends ESC before it, and a letter outside
// ASCII sends its UTF-8 bytes. Reading a key means reading all of them, or
// the rest is left for whoever reads the terminal next (a shell prompt).
#ifndef ANNC_TEXT_KEY_SEQUENCE_H_
#define ANNC_TEXT_KEY_SEQUENCE_H_

#include <cstddef>
#include <string_view>

namespace annc {

// Fed a key's bytes one by one, tells when the key is complete.
class KeySequence {
 public:
  // No key is longer than this; a longer run of bytes ends here.
  static constexpr std::size_t kMaxBytes = 32;

  // `utf8`: the terminal sends UTF-8, so a lead byte brings its continuation
  // bytes; otherwise every byte outside an escape sequence is a key.
  explicit KeySequence(bool utf8) : utf8_(utf8) {}

  // Takes the key's next byte; true when that byte ends the key. Not to be
  // called again after it returned true.
  bool Add(unsigned char byte);

 private:
  enum class State {
    kStart,
    kEscape,        // after ESC
    kControl,       // ESC [: parameters and intermediates up to a final byte
    kOneMore,       // ESC O: one byte follows
    kIntermediate,  // ESC and intermediates (ESC ( B) up to a final byte
    kString,        // ESC ] and the like: up to BEL or ESC backslash
    kStringEscape,  // ESC inside a string
    kUtf8,          // continuation bytes of a UTF-8 character
  };
  bool utf8_;
  State state_ = State::kStart;
  std::size_t length_ = 0;
  int continuationsLeft_ = 0;
};

// How many bytes from the front of `bytes` the first key takes; all of them
// when the key is not complete within them.
std::size_t KeyLength(std::string_view bytes, bool utf8);

}  // namespace annc

#endif  // ANNC_TEXT_KEY_SEQUENCE_H_
