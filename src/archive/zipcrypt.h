// CRC-32 and the traditional PKWARE stream cipher (APPNOTE 6.1).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

uint32_t ZipCrc32(uint32_t crc, const void* data, size_t n);

class TZipCrypt {
 public:
  explicit TZipCrypt(const std::string& password);
  uint8_t DecryptByte(uint8_t c);
  uint8_t EncryptByte(uint8_t p);
  void Decrypt(uint8_t* data, size_t n) {
    for (size_t i = 0; i < n; ++i) data[i] = DecryptByte(data[i]);
  }
  void Encrypt(uint8_t* data, size_t n) {
    for (size_t i = 0; i < n; ++i) data[i] = EncryptByte(data[i]);
  }

 private:
  void Update(uint8_t p);
  uint8_t StreamByte() const;
  uint32_t k0_ = 0x12345678, k1_ = 0x23456789, k2_ = 0x34567890;
};
