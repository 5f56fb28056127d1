// The editor interface: the frame forwards the editor opcodes to an object of
// this kind when one is attached. This product never attaches one; effects
// built on the frame may.
#pragma once

#include <cstdint>

namespace tandrel {

// Built by the dispatcher for the key opcodes and passed by address, valid
// only for the duration of that call.
struct KeyRecord {
  std::int32_t character;  // the request's index
  std::uint8_t virtualKey; // low 8 bits of the request's value
  std::uint8_t modifiers;  // low 8 bits of the request's float, truncated toward zero
};

// Owned by the effect that holds it; destroyed by the effect's destructor.
// Thread: the host's user-interface thread, through the dispatcher.
class EffectEditor {
public:
  // destroy
  virtual ~EffectEditor() = default;
  // Stores, through `where`, the address at which the editor's rectangle
  // can be found. Answers whether it did.
  virtual bool getRectangle(void** where) noexcept = 0;
  // Opens the editor inside the parent window that `parentWindow` designates.
  virtual bool open(void* parentWindow) noexcept = 0;
  virtual void close() noexcept = 0;
  virtual void idle() noexcept = 0;
  virtual bool keyPressed(KeyRecord& key) noexcept = 0;
  virtual bool keyReleased(KeyRecord& key) noexcept = 0;
  virtual bool setKnobMode(std::int32_t mode) noexcept = 0;
};

} // namespace tandrel
