// CRC-32, the random source, and the traditional PKWARE stream cipher (APPNOTE 6.1) behind the
// byte-stream interface every entry cipher offers.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

uint32_t ZipCrc32(uint32_t crc, const void* data, size_t n);

// n bytes from the system's random source (getrandom); raises std::system_error when it fails.
void ZipRandomBytes(uint8_t* p, size_t n);

// The encryption of one entry's data, a layer between the archive bytes and the decoder (when
// reading) or the encoder (when writing): bytes pass through it in order, in pieces of any size.
// The entry's data begins with HeaderSize() bytes of the cipher's own and ends with
// TrailerSize() more.
class TEntryCipher {
 public:
  virtual ~TEntryCipher() = default;
  virtual void Encrypt(uint8_t* data, size_t n) = 0;
  virtual void Decrypt(uint8_t* data, size_t n) = 0;
  virtual size_t HeaderSize() const = 0;
  virtual size_t TrailerSize() const { return 0; }
};

class TZipCrypt : public TEntryCipher {
 public:
  explicit TZipCrypt(const std::string& password);
  ~TZipCrypt() override;
  uint8_t DecryptByte(uint8_t c);
  uint8_t EncryptByte(uint8_t p);
  void Decrypt(uint8_t* data, size_t n) override {
    for (size_t i = 0; i < n; ++i) data[i] = DecryptByte(data[i]);
  }
  void Encrypt(uint8_t* data, size_t n) override {
    for (size_t i = 0; i < n; ++i) data[i] = EncryptByte(data[i]);
  }
  // The 12-byte encryption header.
  size_t HeaderSize() const override { return 12; }

 private:
  void Update(uint8_t p);
  uint8_t StreamByte() const;
  uint32_t k0_ = 0x12345678, k1_ = 0x23456789, k2_ = 0x34567890;
};
