// WinZip AES encryption of zip entries (AE-1 and AE-2), through libcrypto.
//
// An AES entry has compression method 99 and the extra field 0x9901, whose 7 bytes are the vendor
// version (1: AE-1, 2: AE-2), the vendor id "AE", the key strength (1, 2, 3: 128, 192, 256 bits)
// and the method the data was compressed with. Its data is a salt of 8, 12 or 16 bytes, a 2-byte
// password verifier, the compressed data encrypted with AES in counter mode (a little-endian
// counter starting at 1) and the first 10 bytes of an HMAC-SHA1 over that encrypted data. The
// keys and the verifier come from PBKDF2-HMAC-SHA1 over the password and the salt, 1000 rounds.
// AE-1 entries carry the CRC of their data, AE-2 entries a CRC of 0 (the code alone vouches for
// them), as written for entries under 20 bytes whose CRC would tell too much of the content.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "archive/zipcrypt.h"

struct TZipHeaderInfo;

inline constexpr uint16_t kAesMethod = 99;
inline constexpr uint16_t kAesExtraId = 0x9901;
inline constexpr uint16_t kAesVersionNeeded = 51;
inline constexpr size_t kAesVerifierSize = 2;
inline constexpr size_t kAesCodeSize = 10;
// AE-2 is written for entries shorter than this.
inline constexpr uint64_t kAesAe2Below = 20;

// How new entries are encrypted when a password is set.
enum class TZipEncryption : uint8_t { zeTraditional, zeAES128, zeAES192, zeAES256 };

// The contents of an entry's 0x9901 field.
struct TAesField {
  uint16_t Version = 1;  // 1: AE-1, 2: AE-2
  uint8_t Strength = 3;  // 1, 2, 3: 128, 192, 256-bit keys
  uint16_t Method = 0;   // the compression method of the data once decrypted
};

// Salt length for a key strength (8, 12, 16), 0 for an unknown strength.
size_t AesSaltSize(uint8_t strength);
// Key strength of an encryption setting (0 for traditional).
uint8_t AesStrengthOf(TZipEncryption encryption);
// Reads the first AES field of extra data. Empty when it is sound; otherwise what is wrong.
std::string ParseAesField(const std::string& extra, TAesField& field);
// Reads the AES field of an entry's central extra data and checks that the entry can hold what
// AES puts around its data. Empty when all is well; otherwise what is wrong with it.
std::string CheckAesEntry(const TZipHeaderInfo& h, TAesField& field);
// The whole 0x9901 field (header id and length included).
std::string AesFieldBytes(const TAesField& field);
// Puts the AES field into the entry's central extra data, replacing one already there.
void SetAesField(TZipHeaderInfo& h, const TAesField& field);
// The 0x9901 field of extra data as stored (11 bytes), or "" when there is none.
std::string FindAesFieldBytes(const std::string& extra);

// One entry's keys: the counter-mode stream and the authentication code over the encrypted data.
// Keys and key stream are wiped when it goes.
class TAesCipher : public TEntryCipher {
 public:
  // Derives the keys from the password and the salt (AesSaltSize(strength) bytes).
  TAesCipher(const std::string& password, uint8_t strength, const uint8_t* salt);
  // Keys from a new random salt, for writing.
  TAesCipher(const std::string& password, uint8_t strength);
  ~TAesCipher() override;
  TAesCipher(const TAesCipher&) = delete;
  TAesCipher& operator=(const TAesCipher&) = delete;

  // Encrypts, then takes the encrypted bytes into the code.
  void Encrypt(uint8_t* data, size_t n) override;
  // Takes the encrypted bytes into the code, then decrypts.
  void Decrypt(uint8_t* data, size_t n) override;
  size_t HeaderSize() const override { return saltSize_ + kAesVerifierSize; }
  size_t TrailerSize() const override { return kAesCodeSize; }

  // The salt (HeaderSize() - kAesVerifierSize bytes) and the password verifier (2 bytes) the
  // keys were made from and give.
  const uint8_t* Salt() const { return salt_; }
  const uint8_t* Verifier() const { return verifier_; }
  // Encrypted bytes taken into the code so far.
  uint64_t Processed() const { return processed_; }
  // Takes encrypted bytes into the code without decrypting them.
  void Absorb(const uint8_t* data, size_t n);
  // The authentication code of everything taken in (kAesCodeSize bytes); ends the stream.
  void Code(uint8_t* out);
  // True when stored (kAesCodeSize bytes) is the code of everything taken in, compared in
  // constant time; ends the stream.
  bool CodeMatches(const uint8_t* stored);

 private:
  void Derive(const std::string& password, uint8_t strength);
  void Crypt(uint8_t* data, size_t n);
  void Refill();
  struct Impl;
  std::unique_ptr<Impl> impl_;
  size_t saltSize_;
  uint8_t salt_[16] = {};
  uint8_t verifier_[kAesVerifierSize] = {};
  uint64_t processed_ = 0;
};

// The keys of the entries one writing run encrypts, made ahead on worker threads: each entry
// needs a salt of its own and a key derivation of 1000 rounds, which is what AES costs on many
// small files. Entries are numbered in the order they are written; the caller asks for them in
// that order and derives a key itself when the workers have not got to it.
class TAesKeyPool {
 public:
  // count entries; threads workers (< 1: one less than the processors, at most 3).
  TAesKeyPool(const std::string& password, uint8_t strength, size_t count, int threads = -1);
  ~TAesKeyPool();
  TAesKeyPool(const TAesKeyPool&) = delete;
  TAesKeyPool& operator=(const TAesKeyPool&) = delete;

  // The keys of entry i, with a salt no other entry has; the keys made for entries before i are
  // dropped. Asked again for an entry (it is written anew), it gives new keys.
  std::unique_ptr<TAesCipher> Take(size_t i);

 private:
  // Keys made ahead at most: each holds the key streams' buffers.
  static constexpr size_t kAhead = 32;
  void WorkerLoop();
  std::string password_;
  uint8_t strength_;
  size_t count_;
  size_t next_ = 0;    // the next entry no one has claimed
  size_t wanted_ = 0;  // entries before it are of no more use
  bool stop_ = false;
  std::map<size_t, std::unique_ptr<TAesCipher>> ready_;
  std::set<size_t> working_;
  std::mutex mu_;
  std::condition_variable cv_;
  std::vector<std::thread> workers_;
};

// Overwrites the bytes a string holds (and the rest of its buffer) before emptying it.
void WipeSecret(std::string& s);
// Overwrites n bytes.
void WipeBytes(void* p, size_t n);
