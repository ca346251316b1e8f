#include "hardware/DeviceEventReader.h"

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <iostream>

#include "board/board.h"

namespace Hardware {

namespace {

// Records taken by one read, and reads per readiness report: a device that never runs dry
// must not hold the loop.
constexpr size_t kRecordsPerRead = 16;
constexpr int kReadsPerPass = 64;

}  // namespace

DeviceEventReader::DeviceEventReader(const Device& device) : m_device(device) {
  if (m_device.record_size == 0 || m_device.record_size > kMaxRecordSize) m_device.record_size = kMaxRecordSize;
  init();
}

DeviceEventReader::~DeviceEventReader() {
  if (m_fd >= 0) board::close(m_fd);
}

void DeviceEventReader::init() { reopen(false); }

bool DeviceEventReader::reopen(bool quiet) {
  if (is_open()) return true;
  int fd = board::open(m_device.path(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) {
    m_openError = errno;
    if (!quiet) std::cerr << m_device.open_fail << std::strerror(m_openError) << std::endl;
    return false;
  }
  Bind(m_device.watch_name, &DeviceEventReader::OnEvent, this);
  Fd opened(fd);
  Schedule(opened, POLLIN);  // watches its own duplicate
  m_fd = opened.release();
  m_retry.reset();
  m_retryLogged = false;
  if (m_lost) {
    m_lost = false;
    std::clog << m_device.tag << ": device opened again" << std::endl;
    m_restoring = true;
    OnReopened();
    m_restoring = false;
  }
  return true;
}

void DeviceEventReader::OnRetry() {
  // One open per period while the device stays away, its failure logged once.
  if (reopen(m_retryLogged)) return;
  m_retryLogged = true;
  m_retry.set(kRetryMs, &DeviceEventReader::OnRetry, this);
}

void DeviceEventReader::settle_later() {
  if (m_settle.is_set() || m_inSettle) return;
  m_settleMs = kSettleMs;
  m_settle.set(m_settleMs, &DeviceEventReader::OnSettle, this);
}

void DeviceEventReader::OnSettle() {
  // A device that went away is left to the retry timer: its return carries out what is owed.
  m_inSettle = true;
  const bool done = m_retry.is_set() || (reopen(true) && settle());
  m_inSettle = false;
  if (done) return;
  m_settleMs = m_settleMs * 2 < kRetryMs ? m_settleMs * 2 : kRetryMs;
  m_settle.set(m_settleMs, &DeviceEventReader::OnSettle, this);
}

template <typename Issue>
int DeviceEventReader::issue(Issue call) {
  // While the retry timer has said the device stays away, the requests' own lines say enough.
  if (!reopen(m_retryLogged)) {
    errno = m_openError;
    return -1;
  }
  int r = call(m_fd);
  if (r >= 0 || m_restoring) return r;
  const int error = errno;
  if (!board::descriptor_gone(error)) {
    errno = error;
    return r;
  }
  // The driver gave this descriptor up before the loop saw it go: one more try on a new one.
  std::cerr << m_device.tag << ": device gone: " << std::strerror(error) << std::endl;
  lost();
  if (!reopen(false)) {
    errno = m_openError;
    return -1;
  }
  return call(m_fd);
}

int DeviceEventReader::request(uint32_t number, void* arg) {
  return issue([&](int fd) { return board::ioctl(fd, number, arg); });
}

int DeviceEventReader::request_value(uint32_t number, unsigned long value) {
  return issue([&](int fd) { return board::ioctl_value(fd, number, value); });
}

void DeviceEventReader::note_pass(unsigned timeslot, bool owed, bool left, bool live, Notes& notes) const {
  if (owed && !notes.clean_up) {
    std::cerr << m_device.tag << ": switch-off of timeslot " << timeslot << " put off until the device takes it"
              << std::endl;
  } else if (!owed && notes.clean_up) {
    std::clog << m_device.tag << ": switch-off of timeslot " << timeslot << " done" << std::endl;
  }
  notes.clean_up = owed;
  if (left && !notes.put_back) {
    std::cerr << m_device.tag << ": settings of timeslot " << timeslot << " put off until the device takes them"
              << std::endl;
  } else if (!left && notes.put_back && live) {
    std::clog << m_device.tag << ": settings of timeslot " << timeslot << " put back" << std::endl;
  }
  notes.put_back = left;
}

uint32_t DeviceEventReader::next_id() {
  if (++m_counter == 0) m_counter = 1;
  return m_counter;
}

bool DeviceEventReader::opened(const char* what, unsigned timeslot) {
  if (reopen(false)) return true;
  std::cerr << what << " fail: (interface not opened)" << " timeslot=" << timeslot << std::endl;
  return false;
}

void DeviceEventReader::OnEvent(int, short revents) {
  uint8_t buffer[kMaxRecordSize * kRecordsPerRead];
  const size_t want = m_device.record_size * kRecordsPerRead;
  for (int reads = 0; reads < kReadsPerPass && is_open(); ++reads) {
    ssize_t n = ::read(fd(), buffer, want);
    if (n > 0) {
      OnRecords(buffer, static_cast<size_t>(n));
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
      // Drained, yet the device reports an error or hang-up: it will deliver nothing more.
      if (revents & (POLLERR | POLLHUP | POLLNVAL)) {
        std::cerr << "fail to read from " << m_device.tag << ": device hung up" << std::endl;
        lost();
      }
      return;
    }
    int error = errno;
    std::cerr << "fail to read from " << m_device.tag << ": " << (n == 0 ? "end of file" : std::strerror(error))
              << std::endl;
    lost();
    return;
  }
}

void DeviceEventReader::lost() {
  Release();
  board::close(m_fd);
  m_fd = -1;
  m_lost = true;
  m_retry.set(kRetryMs, &DeviceEventReader::OnRetry, this);
}

void DeviceEventReader::OnRecords(const uint8_t* data, size_t size) {
  const size_t record = m_device.record_size;
  size_t whole = size - size % record;
  for (size_t at = 0; at < whole; at += record) OnRecord(data + at);
  if (size != whole) std::cerr << m_device.tag << ": " << size - whole << " bytes of a short record dropped" << std::endl;
}

}  // namespace Hardware
