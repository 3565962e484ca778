#include "support/Inflate.h"

#include <vector>

namespace testsupport {

bool InflateMessage(z_stream& s, const std::string& payload, std::string& out, size_t step,
                    size_t limit) {
  std::string in = payload + std::string("\0\0\xFF\xFF", 4);
  s.next_in = reinterpret_cast<unsigned char*>(in.data());
  s.avail_in = static_cast<uInt>(in.size());
  std::vector<unsigned char> buf(step);
  do {
    s.next_out = buf.data();
    s.avail_out = static_cast<uInt>(buf.size());
    int status = inflate(&s, Z_SYNC_FLUSH);
    if (status != Z_OK && status != Z_BUF_ERROR) return false;
    out.append(reinterpret_cast<char*>(buf.data()), buf.size() - s.avail_out);
  } while ((s.avail_in != 0 || s.avail_out == 0) && out.size() <= limit);
  return true;
}

}  // namespace testsupport
