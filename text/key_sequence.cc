#include "text/key_sequence.h"

namespace annc {

namespace {

constexpr unsigned char kEsc = 0x1b;
constexpr unsigned char kBel = 0x07;

bool IsIntermediate(unsigned char b) { return b >= 0x20 && b <= 0x2f; }
bool IsParameter(unsigned char b) { return b >= 0x30 && b <= 0x3f; }

// The number of continuation bytes a UTF-8 lead byte announces; 0 for a
// byte that is a character of its own or no lead byte at all.
int ContinuationsAfter(unsigned char b) {
  if (b >= 0xc2 && b <= 0xdf) return 1;
  if (b >= 0xe0 && b <= 0xef) return 2;
  if (b >= 0xf0 && b <= 0xf4) return 3;
  return 0;
}

}  // namespace

bool KeySequence::Add(unsigned char byte) {
  ++length_;
  bool done = false;
  switch (state_) {
    case State::kStart:
      if (byte == kEsc) {
        state_ = State::kEscape;
      } else if (utf8_ && (continuationsLeft_ = ContinuationsAfter(byte)) > 0) {
        state_ = State::kUtf8;
      } else {
        done = true;
      }
      break;
    case State::kEscape:
      if (byte == '[') {
        state_ = State::kControl;
      } else if (byte == 'O') {
        state_ = State::kOneMore;
      } else if (byte == ']' || byte == 'P' || byte == 'X' || byte == '^' || byte == '_') {
        state_ = State::kString;
      } else if (IsIntermediate(byte)) {
        state_ = State::kIntermediate;
      } else if (byte != kEsc) {
        done = true;  // Alt with a key; ESC ESC is Alt with a sequence
      }
      break;
    case State::kControl:
      // A final byte ends it; anything else that is not a parameter or an
      // intermediate cuts it short.
      done = !IsParameter(byte) && !IsIntermediate(byte);
      break;
    case State::kOneMore:
      done = true;
      break;
    case State::kIntermediate:
      done = !IsIntermediate(byte);
      break;
    case State::kString:
      if (byte == kEsc) state_ = State::kStringEscape;
      done = byte == kBel;
      break;
    case State::kStringEscape:
      done = true;
      break;
    case State::kUtf8:
      done = byte < 0x80 || byte > 0xbf || --continuationsLeft_ == 0;
      break;
  }
  return done || length_ >= kMaxBytes;
}

std::size_t KeyLength(std::string_view bytes, bool utf8) {
  KeySequence key(utf8);
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    if (key.Add(static_cast<unsigned char>(bytes[i]))) return i + 1;
  }
  return bytes.size();
}

}  // namespace annc
