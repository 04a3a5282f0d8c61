// A growable byte buffer with a position: the stream type of the loader, the inflate layer and
// the proxy's body store.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace velm {

enum class TSeekOrigin { Beginning, Current, End };

// Leaves bytes a vector grows by uninitialised: the stream's readers and decoders overwrite them
// at once, and zeroing a large body first costs as much as a pass over it.
template <class T>
struct TNoInitAllocator : std::allocator<T> {
  template <class U>
  struct rebind {
    using other = TNoInitAllocator<U>;
  };
  TNoInitAllocator() = default;
  template <class U>
  TNoInitAllocator(const TNoInitAllocator<U>&) noexcept {}
  template <class U>
  void construct(U* p) noexcept {
    ::new (static_cast<void*>(p)) U;
  }
  template <class U, class... Args>
  void construct(U* p, Args&&... args) {
    ::new (static_cast<void*>(p)) U(std::forward<Args>(args)...);
  }
};

using TByteBuffer = std::vector<uint8_t, TNoInitAllocator<uint8_t>>;

class TMemoryStream {
 public:
  TMemoryStream() = default;
  explicit TMemoryStream(std::string_view bytes) {
    Write(bytes.data(), bytes.size());
    fPosition = 0;
  }

  size_t Size() const { return fData.size(); }
  size_t Position() const { return fPosition; }
  void SetPosition(size_t pos) { fPosition = pos; }
  // Grows with zero bytes or cuts; the position stays where it was (it may lie past the end).
  void SetSize(size_t size);
  void Clear() {
    fData.clear();
    fPosition = 0;
  }

  // Reads up to count bytes from the position; returns how many were read.
  size_t Read(void* buffer, size_t count);
  // Writes at the position, growing the stream as needed.
  void Write(const void* buffer, size_t count);
  void Write(std::string_view bytes) { Write(bytes.data(), bytes.size()); }
  size_t Seek(int64_t offset, TSeekOrigin origin);

  uint8_t* Memory() { return fData.data(); }
  const uint8_t* Memory() const { return fData.data(); }
  std::string_view View() const {
    return {reinterpret_cast<const char*>(fData.data()), fData.size()};
  }
  std::string ToString() const { return std::string(View()); }
  // The buffer itself; bytes it is grown by are not initialised.
  TByteBuffer& Bytes() { return fData; }

 private:
  TByteBuffer fData;
  size_t fPosition = 0;
};

}  // namespace velm
