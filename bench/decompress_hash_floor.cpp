#include "decompress_hash_floor.hpp"

#include <fcntl.h>
#include <openssl/evp.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zstd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>
#include <stdexcept>
#include <string>

namespace zem::bench {
namespace {

struct Free {
  void operator()(void* memory) const noexcept { std::free(memory); }
};
using Buffer = std::unique_ptr<std::uint8_t, Free>;

Buffer allocate(std::size_t size) {
  Buffer buffer(static_cast<std::uint8_t*>(std::malloc(std::max<std::size_t>(size, 1))));
  if (!buffer) throw std::bad_alloc();
  return buffer;
}

// Fresh memory for a whole file, taken as the package library takes it:
// straight from the kernel, in ordinary pages (not transparent huge pages,
// whose supply after a pause costs several times more on a virtual machine
// that hands free memory back to its host).
class FileMemory {
 public:
  explicit FileMemory(std::size_t size) : size_(std::max<std::size_t>(size, 1)) {
    void* memory =
        ::mmap(nullptr, size_, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (memory == MAP_FAILED) throw std::bad_alloc();
    data_ = static_cast<std::uint8_t*>(memory);
    static_cast<void>(::madvise(data_, size_, MADV_NOHUGEPAGE));
  }
  FileMemory(const FileMemory&) = delete;
  FileMemory& operator=(const FileMemory&) = delete;
  ~FileMemory() { ::munmap(data_, size_); }
  [[nodiscard]] std::uint8_t* data() const { return data_; }

 private:
  std::size_t size_;
  std::uint8_t* data_ = nullptr;
};

// The whole file in fresh memory, as a tool must have it.
std::unique_ptr<FileMemory> read_file(const std::string& path, std::size_t& size) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) throw std::runtime_error("cannot open " + path);
  struct stat info {};
  if (::fstat(fd, &info) != 0) {
    ::close(fd);
    throw std::runtime_error("cannot read " + path);
  }
  size = static_cast<std::size_t>(info.st_size);
  auto bytes = std::make_unique<FileMemory>(size);
  std::size_t done = 0;
  while (done < size) {
    const ssize_t n = ::read(fd, bytes->data() + done, size - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    done += static_cast<std::size_t>(n);
  }
  ::close(fd);
  if (done != size) throw std::runtime_error("cannot read " + path);
  return bytes;
}

}  // namespace

DecompressHashFloor::DecompressHashFloor(std::string path, std::span<const std::uint8_t> image,
                                         const PackagePayloads& payloads)
    : path_(std::move(path)), digests_(payloads.blobs().size()) {
  for (const Payload& blob : payloads.blobs()) {
    Place place{static_cast<std::size_t>(blob.stored.data() - image.data()),
                blob.stored.size(),
                blob.compressed,
                blob.uncompressed_size,
                {}};
    std::copy_n(blob.digest.begin(), std::min<std::size_t>(blob.digest.size(), 32),
                place.digest.begin());
    places_.push_back(place);
  }
  context_ = ZSTD_createDCtx();
  // Fetched once: the floor pays for hashing, not for looking up the method.
  sha256_ = EVP_MD_fetch(nullptr, "SHA256", nullptr);
  hash_ = EVP_MD_CTX_new();
  if (context_ == nullptr || sha256_ == nullptr || hash_ == nullptr) {
    ZSTD_freeDCtx(context_);
    EVP_MD_free(sha256_);
    EVP_MD_CTX_free(hash_);
    throw std::bad_alloc();
  }
}

DecompressHashFloor::~DecompressHashFloor() {
  ZSTD_freeDCtx(context_);
  EVP_MD_free(sha256_);
  EVP_MD_CTX_free(hash_);
}

void DecompressHashFloor::run() {
  std::size_t file_size = 0;
  const std::unique_ptr<FileMemory> file = read_file(path_, file_size);
  for (std::size_t i = 0; i < places_.size(); ++i) {
    const Place& place = places_[i];
    if (place.offset + place.size > file_size) throw std::runtime_error("the file changed");
    const std::uint8_t* payload = file->data() + place.offset;
    const std::uint8_t* contents = payload;
    std::size_t size = place.size;
    Buffer decompressed;
    if (place.compressed) {
      decompressed = allocate(static_cast<std::size_t>(place.uncompressed_size));
      size = ZSTD_decompressDCtx(context_, decompressed.get(),
                                 static_cast<std::size_t>(place.uncompressed_size), payload,
                                 place.size);
      if (ZSTD_isError(size) != 0 || size != place.uncompressed_size) {
        throw std::runtime_error("blob " + std::to_string(i) + " does not decompress to its size");
      }
      contents = decompressed.get();
    }
    unsigned int length = 0;
    if (EVP_DigestInit_ex(hash_, sha256_, nullptr) != 1 ||
        EVP_DigestUpdate(hash_, contents, size) != 1 ||
        EVP_DigestFinal_ex(hash_, digests_[i].data(), &length) != 1) {
      throw std::runtime_error("SHA-256 failed");
    }
  }
}

bool DecompressHashFloor::digests_match() const {
  for (std::size_t i = 0; i < places_.size(); ++i) {
    if (places_[i].digest != digests_[i]) return false;
  }
  return true;
}

}  // namespace zem::bench
