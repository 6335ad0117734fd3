#include "common/input_text.h"

#include <unistd.h>
#include <zlib.h>

#include <cerrno>
#include <cstring>
#include <system_error>
#include <vector>

#include "common/file_io.h"
#include "common/tool_error.h"

namespace korvelan::tools {
namespace {

bool IsGzip(std::string_view bytes) {
  return bytes.size() >= 2 && static_cast<unsigned char>(bytes[0]) == 0x1f &&
         static_cast<unsigned char>(bytes[1]) == 0x8b;
}

struct Inflater {
  z_stream stream{};
  bool ready = false;
  ~Inflater() {
    if (ready) inflateEnd(&stream);
  }
};

}  // namespace

std::string ReadInputBytes(const std::filesystem::path& path) {
  if (path != "-") return ReadWholeFile(path);
  std::string bytes;
  std::vector<char> buffer(1 << 16);
  for (;;) {
    const ssize_t got = ::read(STDIN_FILENO, buffer.data(), buffer.size());
    if (got < 0) {
      if (errno == EINTR) continue;
      throw ToolError("cannot read standard input: " + std::generic_category().message(errno));
    }
    if (got == 0) return bytes;
    bytes.append(buffer.data(), static_cast<std::size_t>(got));
  }
}

std::string Unpacked(std::string bytes, const std::string& source) {
  if (!IsGzip(bytes)) return bytes;
  Inflater z;
  // 15 + 32: a window of 2^15 and a gzip or zlib header detected.
  if (inflateInit2(&z.stream, 15 + 32) != Z_OK) throw ToolError(source + ": out of memory");
  z.ready = true;
  std::string text;
  std::vector<char> out(1 << 18);
  if (bytes.size() > static_cast<std::size_t>(static_cast<uInt>(-1))) {
    throw ToolError(source + ": a compressed input of 4 GiB or more is not supported");
  }
  z.stream.next_in = reinterpret_cast<Bytef*>(bytes.data());
  z.stream.avail_in = static_cast<uInt>(bytes.size());
  for (;;) {
    z.stream.next_out = reinterpret_cast<Bytef*>(out.data());
    z.stream.avail_out = static_cast<uInt>(out.size());
    const int status = inflate(&z.stream, Z_NO_FLUSH);
    text.append(out.data(), out.size() - z.stream.avail_out);
    if (status == Z_STREAM_END) {
      // Another gzip member may follow (concatenated files); trailing
      // bytes of anything else are damage.
      if (z.stream.avail_in == 0) return text;
      if (z.stream.avail_in < 2 || z.stream.next_in[0] != 0x1f || z.stream.next_in[1] != 0x8b) {
        throw ToolError(source + ": unexpected bytes after the end of the gzip data");
      }
      inflateReset(&z.stream);
      continue;
    }
    if (status == Z_OK) continue;
    if (status == Z_BUF_ERROR && z.stream.avail_in == 0) {
      throw ToolError(source + ": the gzip data end too early (a truncated file?)");
    }
    throw ToolError(source + ": damaged gzip data (" +
                    (z.stream.msg != nullptr ? std::string(z.stream.msg) : "inflate failed") + ")");
  }
}

std::string StudyNameOf(const std::filesystem::path& path) {
  if (path == "-") return "stdin";
  std::filesystem::path name = path.filename();
  if (name.extension() == ".gz") name = name.stem();
  return name.stem().string();
}

}  // namespace korvelan::tools
