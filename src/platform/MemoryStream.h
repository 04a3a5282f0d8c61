// A growable byte buffer with a position: the stream type of the loader, the inflate layer and
// the proxy's body store.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace velm {

enum class TSeekOrigin { Beginning, Current, End };

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
  void SetSize(size_t size) { fData.resize(size); }
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
  std::vector<uint8_t>& Bytes() { return fData; }

 private:
  std::vector<uint8_t> fData;
  size_t fPosition = 0;
};

}  // namespace velm
