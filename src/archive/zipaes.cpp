#include "archive/zipaes.h"

#include <nettle/pbkdf2.h>
#include <openssl/core_names.h>
#include <openssl/crypto.h>
#include <openssl/evp.h>
#include <openssl/params.h>

#include <algorithm>
#include <new>
#include <stdexcept>

#include "archive/ziprecords.h"

namespace {

constexpr int kPbkdf2Rounds = 1000;
constexpr size_t kBlock = 16;
// Key stream made per call of the block cipher: counter blocks are encrypted many at a time.
constexpr size_t kStreamBlocks = 256;

[[noreturn]] void CryptoFailure(const char* what) {
  throw std::runtime_error(std::string("AES encryption: ") + what + " failed");
}

// The libcrypto objects every entry uses, fetched once.
struct TAlgorithms {
  EVP_CIPHER* ecb[3] = {};
  EVP_MAC* hmac = nullptr;
  TAlgorithms() {
    ecb[0] = EVP_CIPHER_fetch(nullptr, "AES-128-ECB", nullptr);
    ecb[1] = EVP_CIPHER_fetch(nullptr, "AES-192-ECB", nullptr);
    ecb[2] = EVP_CIPHER_fetch(nullptr, "AES-256-ECB", nullptr);
    hmac = EVP_MAC_fetch(nullptr, "HMAC", nullptr);
  }
  ~TAlgorithms() {
    for (EVP_CIPHER* c : ecb) EVP_CIPHER_free(c);
    EVP_MAC_free(hmac);
  }
};

const TAlgorithms& Algorithms() {
  static const TAlgorithms algorithms;
  return algorithms;
}

// The extra fields of extra data, one after the other; a malformed tail ends the walk.
template <class F>
void EachField(const std::string& extra, F&& each) {
  const auto* b = reinterpret_cast<const uint8_t*>(extra.data());
  size_t p = 0;
  while (p + 4 <= extra.size()) {
    const uint16_t id = GetU16(b + p), len = GetU16(b + p + 2);
    if (p + 4 + len > extra.size()) return;
    each(id, p, static_cast<size_t>(len));
    p += 4 + len;
  }
}

}  // namespace

size_t AesSaltSize(uint8_t strength) {
  return strength >= 1 && strength <= 3 ? 4 + 4 * static_cast<size_t>(strength) : 0;
}

uint8_t AesStrengthOf(TZipEncryption encryption) {
  switch (encryption) {
    case TZipEncryption::zeAES128:
      return 1;
    case TZipEncryption::zeAES192:
      return 2;
    case TZipEncryption::zeAES256:
      return 3;
    case TZipEncryption::zeTraditional:
      break;
  }
  return 0;
}

std::string ParseAesField(const std::string& extra, TAesField& field) {
  std::string problem = "no AES extra field";
  bool found = false;
  EachField(extra, [&](uint16_t id, size_t at, size_t len) {
    if (id != kAesExtraId || found) return;
    found = true;
    const auto* d = reinterpret_cast<const uint8_t*>(extra.data()) + at + 4;
    if (len != 7) {
      problem = "AES extra field of " + std::to_string(len) + " bytes instead of 7";
      return;
    }
    field.Version = GetU16(d);
    field.Strength = d[4];
    field.Method = GetU16(d + 5);
    if (d[2] != 'A' || d[3] != 'E')
      problem = "AES extra field of another vendor";
    else if (field.Version != 1 && field.Version != 2)
      problem = "AES vendor version " + std::to_string(field.Version);
    else if (AesSaltSize(field.Strength) == 0)
      problem = "AES key strength " + std::to_string(field.Strength);
    else
      problem.clear();
  });
  return problem;
}

std::string CheckAesEntry(const TZipHeaderInfo& h, TAesField& field) {
  std::string problem = ParseAesField(h.CentralExtra, field);
  if (!problem.empty()) return problem;
  const uint64_t around = AesSaltSize(field.Strength) + kAesVerifierSize + kAesCodeSize;
  if (h.CompressedSize() < around)
    return "entry of " + std::to_string(h.CompressedSize()) +
           " bytes, too short for its AES salt and authentication code";
  return {};
}

std::string AesFieldBytes(const TAesField& field) {
  std::string out;
  PutU16(out, kAesExtraId);
  PutU16(out, 7);
  PutU16(out, field.Version);
  out += "AE";
  out.push_back(static_cast<char>(field.Strength));
  PutU16(out, field.Method);
  return out;
}

void SetAesField(TZipHeaderInfo& h, const TAesField& field) {
  std::string kept;
  EachField(h.CentralExtra, [&](uint16_t id, size_t at, size_t len) {
    if (id != kAesExtraId) kept.append(h.CentralExtra, at, 4 + len);
  });
  h.CentralExtra = kept + AesFieldBytes(field);
  h.ExtraFieldLength = static_cast<uint16_t>(h.CentralExtra.size());
}

std::string FindAesFieldBytes(const std::string& extra) {
  std::string out;
  EachField(extra, [&](uint16_t id, size_t at, size_t len) {
    if (id == kAesExtraId && out.empty()) out = extra.substr(at, 4 + len);
  });
  return out;
}

struct TAesCipher::Impl {
  EVP_CIPHER_CTX* aes = nullptr;
  EVP_MAC_CTX* mac = nullptr;
  uint64_t counter = 0;
  size_t pos = kStreamBlocks * kBlock;  // key stream used up: made anew at first use
  uint8_t blocks[kStreamBlocks * kBlock] = {};
  uint8_t stream[kStreamBlocks * kBlock] = {};
  bool ended = false;
  ~Impl() {
    EVP_CIPHER_CTX_free(aes);
    EVP_MAC_CTX_free(mac);
    OPENSSL_cleanse(stream, sizeof stream);
  }
};

TAesCipher::TAesCipher(const std::string& password, uint8_t strength, const uint8_t* salt)
    : impl_(std::make_unique<Impl>()), saltSize_(AesSaltSize(strength)) {
  if (saltSize_ == 0) throw std::invalid_argument("AES key strength");
  std::copy(salt, salt + saltSize_, salt_);
  Derive(password, strength);
}

TAesCipher::TAesCipher(const std::string& password, uint8_t strength)
    : impl_(std::make_unique<Impl>()), saltSize_(AesSaltSize(strength)) {
  if (saltSize_ == 0) throw std::invalid_argument("AES key strength");
  ZipRandomBytes(salt_, saltSize_);
  Derive(password, strength);
}

void TAesCipher::Derive(const std::string& password, uint8_t strength) {
  const size_t keySize = 8 + 8 * static_cast<size_t>(strength);
  // Encryption key, authentication key, verifier.
  uint8_t keys[2 * 32 + kAesVerifierSize];
  const size_t keysSize = 2 * keySize + kAesVerifierSize;
  struct TWipe {
    uint8_t* p;
    size_t n;
    ~TWipe() { OPENSSL_cleanse(p, n); }
  } wipe{keys, sizeof keys};
  // Nettle's PBKDF2 keeps the HMAC pads between rounds and takes half the time of libcrypto's:
  // every entry needs its own derivation, which dominates the cost of small files.
  pbkdf2_hmac_sha1(password.size(), reinterpret_cast<const uint8_t*>(password.data()),
                   kPbkdf2Rounds, saltSize_, salt_, keysSize, keys);
  std::copy(keys + 2 * keySize, keys + keysSize, verifier_);

  const TAlgorithms& a = Algorithms();
  impl_->aes = EVP_CIPHER_CTX_new();
  if (!impl_->aes || !a.ecb[strength - 1] ||
      EVP_EncryptInit_ex2(impl_->aes, a.ecb[strength - 1], keys, nullptr, nullptr) != 1 ||
      EVP_CIPHER_CTX_set_padding(impl_->aes, 0) != 1)
    CryptoFailure("AES");
  char sha1[] = "SHA1";
  const OSSL_PARAM params[] = {
      OSSL_PARAM_construct_utf8_string(OSSL_MAC_PARAM_DIGEST, sha1, 0),
      OSSL_PARAM_construct_end(),
  };
  impl_->mac = a.hmac ? EVP_MAC_CTX_new(a.hmac) : nullptr;
  if (!impl_->mac || EVP_MAC_init(impl_->mac, keys + keySize, keySize, params) != 1)
    CryptoFailure("HMAC-SHA1");
}

TAesCipher::~TAesCipher() {
  OPENSSL_cleanse(verifier_, sizeof verifier_);
}

void TAesCipher::Refill() {
  // Counter blocks: the block number, little-endian, in the first 8 bytes; zeros after.
  Impl& m = *impl_;
  for (size_t b = 0; b < kStreamBlocks; ++b) {
    uint64_t c = ++m.counter;
    for (size_t i = 0; i < 8; ++i) m.blocks[b * kBlock + i] = static_cast<uint8_t>(c >> (8 * i));
  }
  int made = 0;
  if (EVP_EncryptUpdate(m.aes, m.stream, &made, m.blocks, static_cast<int>(sizeof m.blocks)) != 1 ||
      made != static_cast<int>(sizeof m.stream))
    CryptoFailure("AES");
  m.pos = 0;
}

void TAesCipher::Crypt(uint8_t* data, size_t n) {
  Impl& m = *impl_;
  while (n > 0) {
    if (m.pos == sizeof m.stream) Refill();
    const size_t k = std::min(n, sizeof m.stream - m.pos);
    const uint8_t* s = m.stream + m.pos;
    for (size_t i = 0; i < k; ++i) data[i] ^= s[i];
    m.pos += k;
    data += k;
    n -= k;
  }
}

void TAesCipher::Absorb(const uint8_t* data, size_t n) {
  if (impl_->ended) throw std::logic_error("AES: data after the authentication code");
  if (n > 0 && EVP_MAC_update(impl_->mac, data, n) != 1) CryptoFailure("HMAC-SHA1");
  processed_ += n;
}

void TAesCipher::Encrypt(uint8_t* data, size_t n) {
  Crypt(data, n);
  Absorb(data, n);
}

void TAesCipher::Decrypt(uint8_t* data, size_t n) {
  Absorb(data, n);
  Crypt(data, n);
}

void TAesCipher::Code(uint8_t* out) {
  uint8_t full[EVP_MAX_MD_SIZE];
  size_t len = 0;
  impl_->ended = true;
  if (EVP_MAC_final(impl_->mac, full, &len, sizeof full) != 1 || len < kAesCodeSize)
    CryptoFailure("HMAC-SHA1");
  std::copy(full, full + kAesCodeSize, out);
  OPENSSL_cleanse(full, sizeof full);
}

bool TAesCipher::CodeMatches(const uint8_t* stored) {
  uint8_t code[kAesCodeSize];
  Code(code);
  return CRYPTO_memcmp(code, stored, kAesCodeSize) == 0;
}

TAesKeyPool::TAesKeyPool(const std::string& password, uint8_t strength, size_t count, int threads)
    : password_(password), strength_(strength), count_(count) {
  if (threads < 1) {
    const unsigned hw = std::thread::hardware_concurrency();
    threads = static_cast<int>(std::clamp(hw > 1 ? hw - 1 : 1u, 1u, 3u));
  }
  for (int i = 0; i < threads && static_cast<size_t>(i) < count; ++i)
    workers_.emplace_back([this] { WorkerLoop(); });
}

TAesKeyPool::~TAesKeyPool() {
  {
    std::lock_guard lock(mu_);
    stop_ = true;
  }
  cv_.notify_all();
  for (auto& t : workers_) t.join();
  ready_.clear();
  WipeSecret(password_);
}

void TAesKeyPool::WorkerLoop() {
  std::unique_lock lock(mu_);
  for (;;) {
    // Entries the caller has passed are not made at all.
    cv_.wait(lock, [&] {
      const size_t i = std::max(next_, wanted_);
      return stop_ || (i < count_ && i < wanted_ + kAhead);
    });
    if (stop_) return;
    const size_t i = std::max(next_, wanted_);
    next_ = i + 1;
    working_.insert(i);
    lock.unlock();
    std::unique_ptr<TAesCipher> keys;
    try {
      keys = std::make_unique<TAesCipher>(password_, strength_);
    } catch (const std::exception&) {
      // Nothing may escape a worker: the caller derives this entry's keys itself.
    }
    lock.lock();
    working_.erase(i);
    if (keys && i >= wanted_) ready_[i] = std::move(keys);
    cv_.notify_all();
  }
}

std::unique_ptr<TAesCipher> TAesKeyPool::Take(size_t i) {
  std::unique_lock lock(mu_);
  if (i >= wanted_) {
    wanted_ = i;
    ready_.erase(ready_.begin(), ready_.lower_bound(i));
  }
  // While a worker makes these keys, the caller makes later ones; keys nobody has begun are made
  // here.
  while (working_.count(i)) {
    const size_t j = std::max(next_, i + 1);
    if (j >= count_ || j >= i + kAhead) {
      cv_.wait(lock);
      continue;
    }
    next_ = j + 1;
    working_.insert(j);
    lock.unlock();
    std::unique_ptr<TAesCipher> later;
    try {
      later = std::make_unique<TAesCipher>(password_, strength_);
    } catch (const std::exception&) {
    }
    lock.lock();
    working_.erase(j);
    if (later && j >= wanted_) ready_[j] = std::move(later);
    cv_.notify_all();
  }
  std::unique_ptr<TAesCipher> keys;
  if (auto it = ready_.find(i); it != ready_.end()) {
    keys = std::move(it->second);
    ready_.erase(it);
  }
  if (i >= next_) next_ = i + 1;
  wanted_ = std::max(wanted_, i + 1);
  cv_.notify_all();
  lock.unlock();
  return keys ? std::move(keys) : std::make_unique<TAesCipher>(password_, strength_);
}

void WipeBytes(void* p, size_t n) {
  if (p && n) OPENSSL_cleanse(p, n);
}

void WipeSecret(std::string& s) {
  // The whole buffer: a shorter secret may have overwritten a longer one before.
  s.resize(s.capacity());
  OPENSSL_cleanse(s.data(), s.size());
  s.clear();
}
