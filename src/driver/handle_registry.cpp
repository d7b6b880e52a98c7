#include "driver/handle_registry.h"

#include "platform/platform.h"

namespace iffjpeg {
namespace {

// Value layout: bits 0..15 slot + 1 (1..65535), bits 16..30 generation
// (1..32767). Values are therefore positive and never 0.
constexpr int32_t kSlots = 65535;

struct Slot {
  IFFHandle* handle;
  int32_t generation;
};

struct Registry {
  platform::Lock lock;
  Slot slots[kSlots];
  int32_t nextSlot;  // where the search for a free slot begins
};

Registry& registry() {
  static Registry instance;  // zero-initialised storage, lock built on first use
  return instance;
}

// Constructed at load, so that first use from two threads cannot race.
[[maybe_unused]] const bool registryReady = (registry(), true);

class Held {
 public:
  explicit Held(platform::Lock& lock) : lock_(lock) { lock_.Enter(); }
  ~Held() { lock_.Leave(); }
  Held(const Held&) = delete;
  Held& operator=(const Held&) = delete;

 private:
  platform::Lock& lock_;
};

bool Decode(int32_t value, int32_t& slot, int32_t& generation) {
  if (value <= 0) return false;
  slot = (value & 0xFFFF) - 1;
  generation = value >> 16;
  return slot >= 0 && slot < kSlots && generation > 0;
}

}  // namespace

int32_t RegisterHandle(IFFHandle* handle) {
  Registry& r = registry();
  Held held(r.lock);
  // Search onwards from the last slot issued: a freed slot is taken again
  // only after every other free slot has had its turn.
  for (int32_t i = 0; i < kSlots; ++i) {
    int32_t slot = (r.nextSlot + i) % kSlots;
    Slot& s = r.slots[slot];
    if (s.handle != nullptr) continue;
    s.generation = s.generation % 32767 + 1;
    s.handle = handle;
    r.nextSlot = (slot + 1) % kSlots;
    return (s.generation << 16) | (slot + 1);
  }
  return 0;
}

IFFHandle* LookUpHandle(int32_t value) {
  int32_t slot, generation;
  if (!Decode(value, slot, generation)) return nullptr;
  Registry& r = registry();
  Held held(r.lock);
  const Slot& s = r.slots[slot];
  return s.generation == generation ? s.handle : nullptr;
}

IFFHandle* UnregisterHandle(int32_t value) {
  int32_t slot, generation;
  if (!Decode(value, slot, generation)) return nullptr;
  Registry& r = registry();
  Held held(r.lock);
  Slot& s = r.slots[slot];
  if (s.generation != generation || s.handle == nullptr) return nullptr;
  IFFHandle* handle = s.handle;
  s.handle = nullptr;
  return handle;
}

}  // namespace iffjpeg
