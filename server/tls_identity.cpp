// Self-signed certificates with OpenSSL's C API (see tls_identity.h).
#include "tls_identity.h"

#include "disk.h"

#include <openssl/bio.h>
#include <openssl/bn.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

#include <memory>
#include <unistd.h>

namespace server {

namespace {

template <typename T, void (*Free)(T*)> struct Deleter {
    void operator()(T* p) const { Free(p); }
};
using PKey = std::unique_ptr<EVP_PKEY, Deleter<EVP_PKEY, EVP_PKEY_free>>;
using Cert = std::unique_ptr<X509, Deleter<X509, X509_free>>;
using Bio = std::unique_ptr<BIO, Deleter<BIO, BIO_free_all>>;
using BigNum = std::unique_ptr<BIGNUM, Deleter<BIGNUM, BN_free>>;
using Extension = std::unique_ptr<X509_EXTENSION, Deleter<X509_EXTENSION, X509_EXTENSION_free>>;
void FreeGeneralNames(GENERAL_NAMES* names) {
    GENERAL_NAMES_free(names);
}
using GeneralNames = std::unique_ptr<GENERAL_NAMES, Deleter<GENERAL_NAMES, FreeGeneralNames>>;

std::string OpenSslError(const std::string& what) {
    unsigned long code = ERR_get_error();
    char text[256] = "unknown error";
    if (code)
        ERR_error_string_n(code, text, sizeof text);
    ERR_clear_error();
    return what + ": " + text;
}

std::string BioText(BIO* bio) {
    char* data = nullptr;
    long size = BIO_get_mem_data(bio, &data);
    return size > 0 ? std::string(data, static_cast<std::size_t>(size)) : std::string();
}

bool AddExtension(X509* cert, int nid, const char* value) {
    X509V3_CTX context;
    X509V3_set_ctx_nodb(&context);
    X509V3_set_ctx(&context, cert, cert, nullptr, nullptr, 0);
    Extension extension(X509V3_EXT_conf_nid(nullptr, &context, nid, value));
    return extension && X509_add_ext(cert, extension.get(), -1) == 1;
}

// Built name by name rather than from a text, so a host name can hold any character.
bool AddAlternativeNames(X509* cert, const std::vector<std::string>& dnsNames) {
    GeneralNames names(GENERAL_NAMES_new());
    if (!names)
        return false;
    for (const std::string& dns : dnsNames) {
        GENERAL_NAME* name = GENERAL_NAME_new();
        ASN1_IA5STRING* text = ASN1_IA5STRING_new();
        if (!name || !text || !ASN1_STRING_set(text, dns.data(), static_cast<int>(dns.size()))) {
            GENERAL_NAME_free(name);
            ASN1_IA5STRING_free(text);
            return false;
        }
        GENERAL_NAME_set0_value(name, GEN_DNS, text);
        sk_GENERAL_NAME_push(names.get(), name);
    }
    for (const char* ip : {"127.0.0.1", "::1"}) {
        ASN1_OCTET_STRING* address = a2i_IPADDRESS(ip);
        GENERAL_NAME* name = GENERAL_NAME_new();
        if (!name || !address) {
            GENERAL_NAME_free(name);
            ASN1_OCTET_STRING_free(address);
            return false;
        }
        GENERAL_NAME_set0_value(name, GEN_IPADD, address);
        sk_GENERAL_NAME_push(names.get(), name);
    }
    return X509_add1_ext_i2d(cert, NID_subject_alt_name, names.get(), 0, X509V3_ADD_DEFAULT) == 1;
}

} // namespace

std::string HostName() {
    char name[256] = {};
    if (::gethostname(name, sizeof name - 1) != 0 || name[0] == '\0')
        return "localhost";
    return name;
}

bool MakeSelfSignedCertificate(const std::string& certPath, const std::string& keyPath,
                               const std::vector<std::string>& dnsNames, std::string& error) {
    PKey key(EVP_EC_gen("P-256"));
    if (!key) {
        error = OpenSslError("cannot make a key");
        return false;
    }
    Cert cert(X509_new());
    BigNum serial(BN_new());
    if (!cert || !serial || !BN_rand(serial.get(), 120, BN_RAND_TOP_ANY, BN_RAND_BOTTOM_ANY) ||
        !BN_to_ASN1_INTEGER(serial.get(), X509_get_serialNumber(cert.get())) ||
        !X509_set_version(cert.get(), 2) ||
        !X509_gmtime_adj(X509_getm_notBefore(cert.get()), -60 * 60) ||
        !X509_gmtime_adj(X509_getm_notAfter(cert.get()), 20L * 365 * 24 * 60 * 60) ||
        !X509_set_pubkey(cert.get(), key.get())) {
        error = OpenSslError("cannot fill in the certificate");
        return false;
    }
    std::string commonName = dnsNames.empty() ? "localhost" : dnsNames.front();
    X509_NAME* subject = X509_get_subject_name(cert.get());
    if (!X509_NAME_add_entry_by_txt(subject, "O", MBSTRING_UTF8,
                                    reinterpret_cast<const unsigned char*>("Pelora server"), -1, -1,
                                    0) ||
        !X509_NAME_add_entry_by_txt(subject, "CN", MBSTRING_UTF8,
                                    reinterpret_cast<const unsigned char*>(commonName.c_str()),
                                    static_cast<int>(commonName.size()), -1, 0) ||
        !X509_set_issuer_name(cert.get(), subject)) {
        error = OpenSslError("cannot name the certificate");
        return false;
    }
    // Self-signed: it is its own authority, which is how a launcher that pins it trusts it.
    if (!AddExtension(cert.get(), NID_basic_constraints, "critical,CA:TRUE") ||
        !AddExtension(cert.get(), NID_key_usage, "critical,digitalSignature,keyCertSign") ||
        !AddExtension(cert.get(), NID_ext_key_usage, "serverAuth") ||
        !AddExtension(cert.get(), NID_subject_key_identifier, "hash") ||
        !AddAlternativeNames(cert.get(), dnsNames)) {
        error = OpenSslError("cannot add the certificate's extensions");
        return false;
    }
    if (!X509_sign(cert.get(), key.get(), EVP_sha256())) {
        error = OpenSslError("cannot sign the certificate");
        return false;
    }
    Bio certText(BIO_new(BIO_s_mem()));
    Bio keyText(BIO_new(BIO_s_mem()));
    if (!certText || !keyText || !PEM_write_bio_X509(certText.get(), cert.get()) ||
        !PEM_write_bio_PrivateKey(keyText.get(), key.get(), nullptr, nullptr, 0, nullptr,
                                  nullptr)) {
        error = OpenSslError("cannot write the certificate as PEM");
        return false;
    }
    // The key first: a certificate on disk without its key would be an unusable pair.
    return WriteFileDurably(keyPath, BioText(keyText.get()), 0600, error) &&
           WriteFileDurably(certPath, BioText(certText.get()), 0644, error);
}

bool EnsureCertificate(const std::string& certPath, const std::string& keyPath, bool& created,
                       std::string& error) {
    created = false;
    bool haveCert = PathExists(certPath);
    bool haveKey = PathExists(keyPath);
    if (haveCert && haveKey)
        return true;
    if (haveCert || haveKey) {
        error = "found " + (haveCert ? certPath : keyPath) + " but not " +
                (haveCert ? keyPath : certPath) + "; restore it, or remove both to make a new pair";
        return false;
    }
    std::vector<std::string> names;
    std::string host = HostName();
    names.push_back(host);
    if (host != "localhost")
        names.push_back("localhost");
    if (!MakeSelfSignedCertificate(certPath, keyPath, names, error))
        return false;
    created = true;
    return true;
}

bool CheckCertificatePair(const std::string& certPath, const std::string& keyPath,
                          std::string& summary, std::string& error) {
    std::string certPem, keyPem;
    if (!ReadFile(certPath, certPem, error) || !ReadFile(keyPath, keyPem, error))
        return false;
    Bio certBio(BIO_new_mem_buf(certPem.data(), static_cast<int>(certPem.size())));
    Bio keyBio(BIO_new_mem_buf(keyPem.data(), static_cast<int>(keyPem.size())));
    Cert cert(certBio ? PEM_read_bio_X509(certBio.get(), nullptr, nullptr, nullptr) : nullptr);
    if (!cert) {
        error = OpenSslError(certPath + " holds no PEM certificate");
        return false;
    }
    PKey key(keyBio ? PEM_read_bio_PrivateKey(keyBio.get(), nullptr, nullptr, nullptr) : nullptr);
    if (!key) {
        error = OpenSslError(keyPath + " holds no PEM private key");
        return false;
    }
    if (X509_check_private_key(cert.get(), key.get()) != 1) {
        error = OpenSslError(keyPath + " is not the key of " + certPath);
        return false;
    }
    char subject[256] = {};
    X509_NAME_oneline(X509_get_subject_name(cert.get()), subject, sizeof subject);
    Bio expiry(BIO_new(BIO_s_mem()));
    if (expiry)
        ASN1_TIME_print(expiry.get(), X509_get0_notAfter(cert.get()));
    summary = std::string(subject) + ", valid until " + (expiry ? BioText(expiry.get()) : "?");
    return true;
}

} // namespace server
