#include "platform/MemoryStream.h"

#include <algorithm>
#include <cstring>

namespace velm {

size_t TMemoryStream::Read(void* buffer, size_t count) {
  if (fPosition >= fData.size()) return 0;
  size_t n = std::min(count, fData.size() - fPosition);
  std::memcpy(buffer, fData.data() + fPosition, n);
  fPosition += n;
  return n;
}

void TMemoryStream::SetSize(size_t size) {
  const size_t old = fData.size();
  fData.resize(size);
  if (size > old) std::memset(fData.data() + old, 0, size - old);
}

void TMemoryStream::Write(const void* buffer, size_t count) {
  if (count == 0) return;
  // A position past the end leaves zero bytes in between.
  if (fPosition > fData.size()) SetSize(fPosition);
  if (fPosition + count > fData.size()) fData.resize(fPosition + count);
  std::memcpy(fData.data() + fPosition, buffer, count);
  fPosition += count;
}

size_t TMemoryStream::Seek(int64_t offset, TSeekOrigin origin) {
  int64_t base = origin == TSeekOrigin::Beginning ? 0
                 : origin == TSeekOrigin::Current ? static_cast<int64_t>(fPosition)
                                                  : static_cast<int64_t>(fData.size());
  int64_t pos = base + offset;
  fPosition = pos < 0 ? 0 : static_cast<size_t>(pos);
  return fPosition;
}

}  // namespace velm
