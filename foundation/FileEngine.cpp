#include "foundation/FileEngine.h"

#include <utility>

namespace AppCore {

FileEngine::FileEngine(bool useMMap) : useMMap(useMMap) {}

FileEngine::FileEngine(FileEngine&& other) noexcept
    : view(other.view), useMMap(other.useMMap), basic(std::move(other.basic)),
      mm(std::move(other.mm)) {
  other.view = nullptr;
}

FileEngine& FileEngine::operator=(FileEngine&& other) noexcept {
  if (this != &other) {
    view = other.view;
    useMMap = other.useMMap;
    basic = std::move(other.basic);
    mm = std::move(other.mm);
    other.view = nullptr;
  }
  return *this;
}

void FileEngine::SetEngine(bool useMMap) { this->useMMap = useMMap; }

template <typename Op>
auto FileEngine::Forward(Op op) {
  if (useMMap) {
    auto result = op(mm);
    view = mm.view;
    return result;
  }
  auto result = op(basic);
  view = basic.view;
  return result;
}

bool FileEngine::OpenFile(const char* path, std::string access, bool text) {
  return Forward([&](auto& f) { return f.OpenFile(path, access, text); });
}

bool FileEngine::OpenFile(const std::string& path, std::string access, bool text) {
  return Forward([&](auto& f) { return f.OpenFile(path, access, text); });
}

bool FileEngine::NewFile(const char* path, unsigned long size) {
  return Forward([&](auto& f) { return f.NewFile(path, size); });
}

bool FileEngine::NewFile(const std::string& path, unsigned long size) {
  return Forward([&](auto& f) { return f.NewFile(path, size); });
}

bool FileEngine::SetView() {
  return Forward([&](auto& f) { return f.SetView(); });
}

bool FileEngine::SetView(unsigned long start, unsigned long size) {
  return Forward([&](auto& f) { return f.SetView(start, size); });
}

void FileEngine::ClearView() {
  Forward([&](auto& f) { f.ClearView(); return true; });
}

void FileEngine::ClearAll() {
  Forward([&](auto& f) { f.ClearAll(); return true; });
}

bool FileEngine::FlushView() {
  return Forward([&](auto& f) { return f.FlushView(); });
}

bool FileEngine::ResizeFile(unsigned long n) {
  return Forward([&](auto& f) { return f.ResizeFile(n); });
}

bool FileEngine::WriteToDisk(const unsigned char* data, unsigned long offset, unsigned long size) {
  return Forward([&](auto& f) { return f.WriteToDisk(data, offset, size); });
}

bool FileEngine::ChangeAccess(std::string access) {
  return Forward([&](auto& f) { return f.ChangeAccess(access); });
}

}  // namespace AppCore
