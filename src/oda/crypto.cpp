#include "oda/crypto.h"

#include <openssl/core_names.h>
#include <openssl/evp.h>
#include <openssl/param_build.h>
#include <openssl/rsa.h>

#include <memory>

namespace emvtlv::oda {
namespace {

struct bn_free {
  void operator()(BIGNUM* n) const { BN_free(n); }
};
struct param_bld_free {
  void operator()(OSSL_PARAM_BLD* b) const { OSSL_PARAM_BLD_free(b); }
};
struct params_free {
  void operator()(OSSL_PARAM* p) const { OSSL_PARAM_free(p); }
};
struct ctx_free {
  void operator()(EVP_PKEY_CTX* c) const { EVP_PKEY_CTX_free(c); }
};
struct pkey_free {
  void operator()(EVP_PKEY* k) const { EVP_PKEY_free(k); }
};
struct md_ctx_free {
  void operator()(EVP_MD_CTX* c) const { EVP_MD_CTX_free(c); }
};

BIGNUM* to_bignum(std::span<const std::uint8_t> bytes) {
  return BN_bin2bn(bytes.data(), static_cast<int>(bytes.size()), nullptr);
}

std::unique_ptr<EVP_PKEY, pkey_free> public_key(std::span<const std::uint8_t> modulus,
                                                std::span<const std::uint8_t> exponent) {
  std::unique_ptr<BIGNUM, bn_free> n(to_bignum(modulus));
  std::unique_ptr<BIGNUM, bn_free> e(to_bignum(exponent));
  std::unique_ptr<OSSL_PARAM_BLD, param_bld_free> build(OSSL_PARAM_BLD_new());
  if (!n || !e || !build) return nullptr;
  if (OSSL_PARAM_BLD_push_BN(build.get(), OSSL_PKEY_PARAM_RSA_N, n.get()) != 1 ||
      OSSL_PARAM_BLD_push_BN(build.get(), OSSL_PKEY_PARAM_RSA_E, e.get()) != 1)
    return nullptr;
  std::unique_ptr<OSSL_PARAM, params_free> params(OSSL_PARAM_BLD_to_param(build.get()));
  std::unique_ptr<EVP_PKEY_CTX, ctx_free> ctx(EVP_PKEY_CTX_new_from_name(nullptr, "RSA", nullptr));
  if (!params || !ctx || EVP_PKEY_fromdata_init(ctx.get()) != 1) return nullptr;
  EVP_PKEY* key = nullptr;
  if (EVP_PKEY_fromdata(ctx.get(), &key, EVP_PKEY_PUBLIC_KEY, params.get()) != 1) return nullptr;
  return std::unique_ptr<EVP_PKEY, pkey_free>(key);
}

}  // namespace

bool rsa_public(std::span<const std::uint8_t> modulus, std::span<const std::uint8_t> exponent,
                std::span<const std::uint8_t> signature, std::span<std::uint8_t> out) {
  if (modulus.empty() || modulus.size() > 256 || exponent.empty() || exponent.size() > 3 ||
      signature.size() != modulus.size() || out.size() != modulus.size())
    return false;
  const auto key = public_key(modulus, exponent);
  if (!key) return false;
  std::unique_ptr<EVP_PKEY_CTX, ctx_free> ctx(
      EVP_PKEY_CTX_new_from_pkey(nullptr, key.get(), nullptr));
  if (!ctx || EVP_PKEY_encrypt_init(ctx.get()) != 1 ||
      EVP_PKEY_CTX_set_rsa_padding(ctx.get(), RSA_NO_PADDING) != 1)
    return false;
  std::size_t written = out.size();
  // Without padding libcrypto refuses a value not below the modulus, as it should.
  if (EVP_PKEY_encrypt(ctx.get(), out.data(), &written, signature.data(), signature.size()) != 1)
    return false;
  return written == out.size();
}

sha1_digest sha1(std::span<const std::span<const std::uint8_t>> parts) {
  sha1_digest digest{};
  std::unique_ptr<EVP_MD_CTX, md_ctx_free> ctx(EVP_MD_CTX_new());
  if (!ctx || EVP_DigestInit_ex(ctx.get(), EVP_sha1(), nullptr) != 1) return digest;
  for (const auto part : parts) {
    if (!part.empty()) EVP_DigestUpdate(ctx.get(), part.data(), part.size());
  }
  unsigned int size = 0;
  EVP_DigestFinal_ex(ctx.get(), digest.data(), &size);
  return digest;
}

sha1_digest sha1(std::initializer_list<std::span<const std::uint8_t>> parts) {
  return sha1(std::span<const std::span<const std::uint8_t>>(parts.begin(), parts.size()));
}

}  // namespace emvtlv::oda
