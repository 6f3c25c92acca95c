// The modem's end of a pseudo-terminal. The DTE opens the slave side (or the symlink to it)
// like a serial port; a DTE that closes it is what a modem sees as DTR dropping.
#pragma once

#include <string>

#include <cstddef>
#include <cstdint>

namespace qv::pty {

class PtyPort {
 public:
  PtyPort();  // throws std::runtime_error when no pseudo-terminal can be had
  ~PtyPort();
  PtyPort(const PtyPort&) = delete;
  PtyPort& operator=(const PtyPort&) = delete;

  int fd() const { return master_; }
  const std::string& slavePath() const { return slavePath_; }

  // Creates (or replaces) a symlink at path pointing to the slave; removed again on destruction.
  // Refuses to replace anything that is not a symlink.
  void makeLink(const std::string& path);

  // Reads what is waiting without blocking. Returns the byte count, 0 when nothing waits and
  // -1 when no DTE holds the slave open.
  long readSome(uint8_t* buf, size_t size);

  // Writes everything, waiting for the DTE to drain the pty for up to timeoutMs in total;
  // output for a DTE that is gone is dropped.
  void write(const uint8_t* data, size_t size, int timeoutMs = 5000);
  void write(const std::string& text) { write(reinterpret_cast<const uint8_t*>(text.data()), text.size()); }

  // Discards output the DTE has not read (after it went away).
  void discardOutput();

 private:
  int master_ = -1;
  std::string slavePath_;
  std::string link_;
};

}  // namespace qv::pty
