#include "platform/file_tail.h"

#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>

#include "platform/path_map.h"

namespace snx::platform {
namespace {

std::optional<std::string> Failed(std::string* why, const std::string& text) {
  if (why != nullptr) *why = text;
  return std::nullopt;
}

}  // namespace

std::optional<std::string> ReadFileTail(std::string_view path, std::size_t max_bytes,
                                        std::string* why) {
  const std::string posix = ToPosixPath(path);
  // Non-blocking, so that opening a FIFO in the file's place does not wait for a writer.
  const int fd = ::open(posix.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
  if (fd < 0) return Failed(why, "cannot open " + posix + ": " + std::strerror(errno));
  struct Closer {
    int fd;
    ~Closer() { ::close(fd); }
  } closer{fd};
  struct stat st {};
  if (::fstat(fd, &st) != 0)
    return Failed(why, "cannot read " + posix + ": " + std::strerror(errno));
  if (!S_ISREG(st.st_mode)) return Failed(why, posix + " is not a regular file");
  const auto size = static_cast<std::size_t>(st.st_size);
  const std::size_t want = size < max_bytes ? size : max_bytes;
  std::string tail(want, '\0');
  std::size_t done = 0;
  while (done < want) {
    const ssize_t n =
        ::pread(fd, tail.data() + done, want - done, static_cast<off_t>(size - want + done));
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return Failed(why, "cannot read " + posix + ": " + std::strerror(errno));
    if (n == 0) break;  // cut shorter since fstat: keep what there is
    done += static_cast<std::size_t>(n);
  }
  tail.resize(done);
  return tail;
}

}  // namespace snx::platform
