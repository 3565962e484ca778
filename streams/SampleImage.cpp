#include "streams/SampleImage.h"

#include <algorithm>
#include <chrono>

namespace {

int64_t WallClockNs() {
  return std::chrono::duration_cast<std::chrono::nanoseconds>(
             std::chrono::system_clock::now().time_since_epoch())
      .count();
}

}  // namespace

const MiniFrad* SampleImage::Load(const std::string& path) {
  const int64_t now = WallClockNs();
  AppCore::FileVersion current;
  const bool known = AppCore::GetFileVersion(path, current);
  // A change after readTime stamps the file with that time or later (less a tick of the file
  // system's clock), so a version read a second after its last change cannot hide one.
  if (known && kept && current == version &&
      std::max(version.modified, version.changed) <= readTime - kSettleNs) {
    return &table;
  }
  Release();
  // The version is taken before the read: a change in between makes the next Load read
  // again, never keeps a stale image.
  version = current;
  readTime = now;
  if (!container.Read(path) || !table.Load(&container, true)) {
    Release();
    return nullptr;
  }
  kept = known;
  return &table;
}

void SampleImage::Release() {
  table.Clear();
  container.ClearAll();
  kept = false;
}
