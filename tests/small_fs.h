#pragma once
// A tiny tmpfs of its own, so a test meets a really full disk (ENOSPC from the kernel, not a
// simulated error). Mounting needs the right to mount; without it the test is skipped.

#include <sys/mount.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <cstdio>
#include <filesystem>
#include <string>

class SmallFs {
 public:
  explicit SmallFs(size_t bytes) {
    std::string tmpl = (std::filesystem::temp_directory_path() / "qvfull-XXXXXX").string();
    if (!::mkdtemp(tmpl.data())) return;
    dir_ = tmpl;
    std::string opts = "size=" + std::to_string(bytes) + ",mode=0700";
    if (::mount("tmpfs", dir_.c_str(), "tmpfs", 0, opts.c_str()) == 0) mounted_ = true;
    else reason_ = std::string("cannot mount a small tmpfs: ") + std::strerror(errno);
  }
  ~SmallFs() {
    if (mounted_) ::umount2(dir_.c_str(), MNT_DETACH);
    if (!dir_.empty()) ::rmdir(dir_.c_str());
  }
  SmallFs(const SmallFs&) = delete;
  SmallFs& operator=(const SmallFs&) = delete;

  bool ok() const { return mounted_; }
  const std::string& reason() const { return reason_; }
  std::string operator/(const std::string& name) const { return dir_ + "/" + name; }

  // Fills the rest of the disk with a file (leaving `spare` bytes); returns its size.
  size_t Fill(const std::string& name, size_t spare = 0) {
    std::string path = *this / name;
    std::FILE* f = std::fopen(path.c_str(), "ab");
    if (!f) return 0;
    static const std::string block(4096, 'f');
    size_t written = 0;
    while (std::fwrite(block.data(), 1, block.size(), f) == block.size()) written += block.size();
    std::fclose(f);
    written = std::filesystem::file_size(path);
    if (spare > 0) {
      size_t keep = written > spare ? written - spare : 0;
      std::filesystem::resize_file(path, keep);
      written = keep;
    }
    return written;
  }

 private:
  std::string dir_;
  bool mounted_ = false;
  std::string reason_;
};
