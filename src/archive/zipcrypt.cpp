#include "archive/zipcrypt.h"

#include <openssl/crypto.h>
#include <sys/random.h>
#include <zlib.h>

#include <cerrno>
#include <climits>
#include <system_error>

uint32_t ZipCrc32(uint32_t crc, const void* data, size_t n) {
  auto* p = static_cast<const Bytef*>(data);
  uLong c = crc;
  while (n > 0) {
    uInt k = n > UINT_MAX ? UINT_MAX : static_cast<uInt>(n);
    c = crc32(c, p, k);
    p += k;
    n -= k;
  }
  return static_cast<uint32_t>(c);
}

void ZipRandomBytes(uint8_t* p, size_t n) {
  while (n > 0) {
    ssize_t r = ::getrandom(p, n, 0);
    if (r < 0) {
      if (errno == EINTR) continue;
      throw std::system_error(errno, std::generic_category(), "getrandom");
    }
    p += r;
    n -= static_cast<size_t>(r);
  }
}

namespace {
// One step of CRC-32 over a single byte, as the cipher's key schedule uses it.
uint32_t CrcByte(uint32_t crc, uint8_t b) {
  crc ^= b;
  for (int i = 0; i < 8; ++i) crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
  return crc;
}
}  // namespace

TZipCrypt::TZipCrypt(const std::string& password) {
  for (unsigned char c : password) Update(c);
}

TZipCrypt::~TZipCrypt() {
  // The keys stand for the password.
  OPENSSL_cleanse(&k0_, sizeof k0_);
  OPENSSL_cleanse(&k1_, sizeof k1_);
  OPENSSL_cleanse(&k2_, sizeof k2_);
}

void TZipCrypt::Update(uint8_t p) {
  k0_ = CrcByte(k0_, p);
  k1_ = (k1_ + (k0_ & 0xff)) * 134775813u + 1;
  k2_ = CrcByte(k2_, static_cast<uint8_t>(k1_ >> 24));
}

uint8_t TZipCrypt::StreamByte() const {
  // Unsigned 32-bit arithmetic: the 16-bit product would overflow a promoted int.
  uint32_t t = (k2_ | 2) & 0xFFFF;
  return static_cast<uint8_t>((t * (t ^ 1)) >> 8);
}

uint8_t TZipCrypt::DecryptByte(uint8_t c) {
  uint8_t p = c ^ StreamByte();
  Update(p);
  return p;
}

uint8_t TZipCrypt::EncryptByte(uint8_t p) {
  uint8_t c = p ^ StreamByte();
  Update(p);
  return c;
}
