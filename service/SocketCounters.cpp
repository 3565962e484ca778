// Kept apart from the link: the kernel's own TCP header carries the acknowledged-bytes
// counter that the C library's copy lacks, and the two cannot share a translation unit.

#include "service/SocketCounters.h"

#include <linux/sockios.h>
#include <linux/tcp.h>
#include <netinet/in.h>
#include <sys/ioctl.h>
#include <sys/socket.h>

#include <cstddef>

bool ReadSocketCounters(int fd, SocketCounters* out) {
  int queued = 0;
  tcp_info info{};
  socklen_t length = sizeof info;
  if (ioctl(fd, SIOCOUTQ, &queued) != 0 || getsockopt(fd, IPPROTO_TCP, TCP_INFO, &info, &length) != 0) {
    return false;
  }
  out->queued = queued > 0 ? static_cast<uint64_t>(queued) : 0;
  // An older kernel fills less of the structure: without the counters, no progress shows.
  const bool complete = length >= offsetof(tcp_info, tcpi_snd_wnd) + sizeof info.tcpi_snd_wnd;
  out->acked = complete ? info.tcpi_bytes_acked : 0;
  out->held = complete ? info.tcpi_notsent_bytes : 0;
  out->window = complete ? info.tcpi_snd_wnd : 0;
  return true;
}
