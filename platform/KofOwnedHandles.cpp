// What the owners of a file descriptor and of a mapped buffer do alike on every
// system; closing and unmapping themselves are the system's own (posix/, win/).
#include <utility>

#include "platform/KofFileIO.h"
#include "platform/KofFolders.h"

namespace kof {

TFileHandle& TFileHandle::operator=(TFileHandle&& other) noexcept {
  if (this != &other) {
    Reset();
    FFd = other.Release();
  }
  return *this;
}

TFileHandle::~TFileHandle() { Reset(); }

int TFileHandle::Release() {
  const int fd = FFd;
  FFd = -1;
  return fd;
}

TMappedBuffer::TMappedBuffer(TMappedBuffer&& other) noexcept
    : FData(std::exchange(other.FData, nullptr)), FSize(std::exchange(other.FSize, 0)) {}

TMappedBuffer& TMappedBuffer::operator=(TMappedBuffer&& other) noexcept {
  if (this != &other) {
    Release();
    FData = std::exchange(other.FData, nullptr);
    FSize = std::exchange(other.FSize, 0);
  }
  return *this;
}

TMappedBuffer::~TMappedBuffer() { Release(); }

}  // namespace kof
