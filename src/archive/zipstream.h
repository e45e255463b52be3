// 64-bit streams under the zip engine: files through POSIX pread/pwrite, and memory buffers so
// that tests and fuzzers can hand the engine an archive as bytes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

class THugeStream {
 public:
  virtual ~THugeStream() = default;

  virtual int64_t Size() = 0;
  // Reads up to n bytes at pos; returns the number read (short only at the end).
  virtual size_t ReadAt(int64_t pos, void* buffer, size_t n) = 0;
  // Writes n bytes at pos; returns the number written (short when the medium is full).
  virtual size_t WriteAt(int64_t pos, const void* buffer, size_t n) = 0;
  // Cuts or extends the stream to size bytes.
  virtual void SetSize(int64_t size) = 0;
  // Last-write time in nanoseconds, 0 when the stream has none.
  virtual int64_t ModTimeNs() { return 0; }

  // Sequential access over the positional calls.
  int64_t Position() const { return pos_; }
  // origin 0: from the start, 1: from the current position, 2: from the end.
  int64_t Seek(int64_t offset, int origin);
  size_t Read(void* buffer, size_t n);
  size_t Write(const void* buffer, size_t n);
  // Reads exactly n bytes at pos or raises EFatalUnzipError.
  void ReadExactAt(int64_t pos, void* buffer, size_t n);

 protected:
  int64_t pos_ = 0;
};

class TFileStream : public THugeStream {
 public:
  enum TOpenMode { omRead, omReadWrite, omCreate };
  // Opens or creates a file; raises std::system_error on failure.
  TFileStream(const std::string& path, TOpenMode mode);
  ~TFileStream() override;
  TFileStream(const TFileStream&) = delete;
  TFileStream& operator=(const TFileStream&) = delete;

  int64_t Size() override;
  size_t ReadAt(int64_t pos, void* buffer, size_t n) override;
  size_t WriteAt(int64_t pos, const void* buffer, size_t n) override;
  void SetSize(int64_t size) override;
  int64_t ModTimeNs() override;
  void Flush();
  int Handle() const { return fd_; }
  const std::string& Path() const { return path_; }

 private:
  int fd_ = -1;
  std::string path_;
};

class TMemoryStream : public THugeStream {
 public:
  TMemoryStream() = default;
  explicit TMemoryStream(std::vector<uint8_t> bytes) : data_(std::move(bytes)) {}
  TMemoryStream(const void* bytes, size_t n);

  int64_t Size() override { return static_cast<int64_t>(data_.size()); }
  size_t ReadAt(int64_t pos, void* buffer, size_t n) override;
  size_t WriteAt(int64_t pos, const void* buffer, size_t n) override;
  void SetSize(int64_t size) override;
  const std::vector<uint8_t>& Bytes() const { return data_; }

 private:
  std::vector<uint8_t> data_;
};

// Last-write time of a file in nanoseconds, or -1 when it cannot be read.
int64_t FileModTimeNs(const std::string& path);
