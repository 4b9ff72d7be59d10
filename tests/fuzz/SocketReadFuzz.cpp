// The socket layer's read requests against a stream that arrives in arbitrary
// pieces: whatever the splits, the requests hand out the stream's bytes in order,
// none lost or repeated; a read-any completes with at least one byte; a terminator
// read ends at the first terminator it sees; end of file leaves no complete
// terminated message undelivered.
//
// Input: one byte choosing the terminator's length (1 to 3), the terminator, one
// byte choosing the maximum length of terminator reads (0: none), then pieces:
// one control byte (bit 7: whether the request queued after the next completion is
// a read-any; bits 0-6: the piece's length) followed by the piece's bytes.
#include <cerrno>
#include <cstring>
#include <memory>
#include <string>

#include "FuzzTarget.h"
#include "quorvel/channel/socket/AsyncSocketPackets.h"

namespace {

// The bytes that arrived and were not read yet, as the kernel holds them.
struct Kernel {
  std::string pending;

  ssize_t read(std::uint8_t* target, std::size_t length) {
    if (pending.empty()) {
      errno = EAGAIN;
      return -1;
    }
    const std::size_t n = std::min(length, pending.size());
    std::memcpy(target, pending.data(), n);
    pending.erase(0, n);
    return static_cast<ssize_t>(n);
  }
};

class Reader {
 public:
  Reader(NSData term, std::size_t maxLength) : term_(std::move(term)), maxLength_(maxLength) { next(false); }

  // Serves requests until one waits; false once the connection would close.
  bool serve(Kernel& kernel, bool endOfFile, bool nextIsReadAny) {
    std::size_t waiting = endOfFile ? 0 : kernel.pending.size();
    bool eof = endOfFile;
    for (;;) {
      int error = 0;
      const AsyncReadProgress progress = serveReadRequest(
          *current_, preBuffer_, waiting, eof, [&](std::uint8_t* t, std::size_t n) { return kernel.read(t, n); },
          &error);
      QV_FUZZ_CHECK(progress != AsyncReadProgress::failed);
      if (progress == AsyncReadProgress::complete) {
        deliver();
        next(nextIsReadAny);
        continue;
      }
      if (progress == AsyncReadProgress::maxedOut) {
        QV_FUZZ_CHECK(maxLength_ > 0 && current_->bytesDone >= maxLength_);
        QV_FUZZ_CHECK(find(current_->takeData()) == std::string::npos);
        return false;
      }
      if (progress == AsyncReadProgress::endOfFile) {
        QV_FUZZ_CHECK(endOfFile);
        return false;
      }
      return true;
    }
  }

  const std::string& delivered() const { return delivered_; }
  bool currentIsTerminatorRead() const { return current_->isTerminatorRead(); }
  std::size_t find(const NSData& bytes) const {
    const std::string text(bytes.begin(), bytes.end());
    return text.find(std::string(term_.begin(), term_.end()));
  }

 private:
  void next(bool readAny) {
    current_ = readAny ? std::make_unique<AsyncReadPacket>(0, -1, std::nullopt, 0)
                       : std::make_unique<AsyncReadPacket>(maxLength_, -1, term_, 0);
  }

  void deliver() {
    const bool termRead = current_->isTerminatorRead();
    const NSData piece = current_->takeData();
    QV_FUZZ_CHECK(!piece.empty());
    if (termRead) {
      // The first terminator in the piece is the one it ends with.
      QV_FUZZ_CHECK(piece.size() >= term_.size());
      QV_FUZZ_CHECK(find(piece) == piece.size() - term_.size());
      if (maxLength_ > 0) QV_FUZZ_CHECK(piece.size() <= maxLength_);
    }
    delivered_.append(piece.begin(), piece.end());
  }

  const NSData term_;
  const std::size_t maxLength_;
  AsyncSocketPreBuffer preBuffer_{16};
  std::unique_ptr<AsyncReadPacket> current_;
  std::string delivered_;
};

}  // namespace

QV_FUZZ_TARGET(socket_reads) {
  if (size < 3) return 0;
  std::size_t at = 0;
  const std::size_t termLength = 1 + data[at++] % 3;
  if (size < at + termLength + 1) return 0;
  const NSData term(data + at, data + at + termLength);
  at += termLength;
  const std::size_t maxLength = data[at++] % 64;

  Reader reader(term, maxLength);
  Kernel kernel;
  std::string stream;
  bool open = true;
  bool nextIsReadAny = false;
  while (open && at < size) {
    const std::uint8_t control = data[at++];
    nextIsReadAny = (control & 0x80) != 0;
    const std::size_t length = std::min<std::size_t>(control & 0x7F, size - at);
    kernel.pending.append(reinterpret_cast<const char*>(data + at), length);
    stream.append(reinterpret_cast<const char*>(data + at), length);
    at += length;
    open = reader.serve(kernel, false, nextIsReadAny);
    QV_FUZZ_CHECK(stream.compare(0, reader.delivered().size(), reader.delivered()) == 0);
  }
  if (!open) return 0;
  // The peer closes: what was still on its way is read first.
  while (open && !kernel.pending.empty()) {
    const std::size_t before = kernel.pending.size() + reader.delivered().size();
    open = reader.serve(kernel, false, true);
    if (kernel.pending.size() + reader.delivered().size() == before && open) break;
  }
  if (open) open = reader.serve(kernel, true, nextIsReadAny);
  QV_FUZZ_CHECK(!open);
  QV_FUZZ_CHECK(stream.compare(0, reader.delivered().size(), reader.delivered()) == 0);
  // Nothing deliverable is left behind: a read-any would have taken any byte, and a
  // terminator read any complete message.
  const std::string rest = stream.substr(reader.delivered().size());
  if (reader.currentIsTerminatorRead()) {
    QV_FUZZ_CHECK(reader.find(NSData(rest.begin(), rest.end())) == std::string::npos);
  } else {
    QV_FUZZ_CHECK(rest.empty());
  }
  return 0;
}
