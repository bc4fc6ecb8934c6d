#include "agent/core/file_signature_win.h"

#include <windows.h>
#include <softpub.h>
#include <wincrypt.h>
#include <wintrust.h>

#include <cstdio>
#include <cstring>
#include <cwchar>
#include <vector>

#include "agent/core/lifecycle_text.h"
#include "agent/core/pe_signature.h"

namespace vantorel {
namespace {

// wintrust and crypt32 (with the TLS library crypt32 brings along) would hold
// several hundred KiB of the agent for its whole run; a check is needed only
// before an update is handed over. Loaded for the check, from the system
// folder, never from beside the agent.
class SystemLibrary {
public:
    explicit SystemLibrary(const wchar_t* name) {
        wchar_t folder[MAX_PATH];
        const UINT length = GetSystemDirectoryW(folder, MAX_PATH);
        if (length == 0 || length >= MAX_PATH) return;
        module_ = LoadLibraryW((std::wstring(folder, length) + L"\\" + name).c_str());
    }
    ~SystemLibrary() {
        if (module_) FreeLibrary(module_);
    }
    SystemLibrary(const SystemLibrary&) = delete;
    SystemLibrary& operator=(const SystemLibrary&) = delete;

    template <typename Function>
    Function* Get(const char* name) const {
        return module_ ? reinterpret_cast<Function*>(reinterpret_cast<void*>(GetProcAddress(module_, name)))
                       : nullptr;
    }

private:
    HMODULE module_ = nullptr;
};

// The function of that name, typed as its declaration; decltype names no
// import, so neither library is linked in.
#define VANTOREL_FUNCTION(library, name) (library).Get<decltype(::name)>(#name)

}  // namespace

bool VerifyFileSignature(const std::wstring& path) {
    WINTRUST_FILE_INFO file = {};
    file.cbStruct = sizeof file;
    file.pcwszFilePath = path.c_str();

    WINTRUST_DATA data = {};
    data.cbStruct = sizeof data;
    data.dwUIChoice = WTD_UI_NONE;
    data.fdwRevocationChecks = WTD_REVOKE_NONE;
    data.dwUnionChoice = WTD_CHOICE_FILE;
    data.pFile = &file;
    data.dwStateAction = 0;

    GUID action = WINTRUST_ACTION_GENERIC_VERIFY_V2;
    const SystemLibrary wintrust(L"wintrust.dll");
    const auto verifyTrust = VANTOREL_FUNCTION(wintrust, WinVerifyTrust);
    // Without the library nothing can be trusted: reported as the platform
    // reports a missing provider.
    const LONG result =
        verifyTrust ? verifyTrust(nullptr, &action, &data) : static_cast<LONG>(TRUST_E_PROVIDER_UNKNOWN);
    const DWORD lastError = verifyTrust ? GetLastError() : static_cast<DWORD>(ERROR_MOD_NOT_FOUND);
    const SignatureVerdict verdict = DescribeSignatureResult(std::u16string(path.begin(), path.end()),
                                                             static_cast<uint32_t>(result), lastError);
    const std::wstring line(verdict.line.begin(), verdict.line.end());
    std::wprintf(L"%ls", line.c_str());
    std::fflush(stdout);
    return verdict.verified;
}

namespace {

// Nested signatures are kept as an unauthenticated attribute of the signer.
constexpr char kNestedSignatureOid[] = "1.3.6.1.4.1.311.2.4.1";

// Every attribute of an encoded name, in order.
bool DecodeName(const SystemLibrary& crypt32, const CERT_NAME_BLOB& encoded, DistinguishedName& name) {
    const auto decode = VANTOREL_FUNCTION(crypt32, CryptDecodeObject);
    const auto toText = VANTOREL_FUNCTION(crypt32, CertRDNValueToStrW);
    DWORD size = 0;
    if (!decode || !toText ||
        !decode(X509_ASN_ENCODING, X509_NAME, encoded.pbData, encoded.cbData, 0, nullptr, &size) || size == 0)
        return false;
    std::vector<BYTE> buffer(size);
    if (!decode(X509_ASN_ENCODING, X509_NAME, encoded.pbData, encoded.cbData, 0, buffer.data(), &size)) return false;
    const auto* info = reinterpret_cast<const CERT_NAME_INFO*>(buffer.data());
    name.clear();
    for (DWORD r = 0; r < info->cRDN; ++r) {
        for (DWORD a = 0; a < info->rgRDN[r].cRDNAttr; ++a) {
            const CERT_RDN_ATTR& attribute = info->rgRDN[r].rgRDNAttr[a];
            const DWORD length = toText(attribute.dwValueType, const_cast<CERT_RDN_VALUE_BLOB*>(&attribute.Value),
                                        nullptr, 0);
            std::wstring value(length, L'\0');
            if (length) toText(attribute.dwValueType, const_cast<CERT_RDN_VALUE_BLOB*>(&attribute.Value),
                               value.data(), length);
            if (!value.empty() && value.back() == L'\0') value.pop_back();
            name.push_back({attribute.pszObjId ? attribute.pszObjId : "",
                            std::u16string(value.begin(), value.end())});
        }
    }
    return !name.empty();
}

// The encoded root certificate that signer's chain ends at, built with the
// certificates the signature carries; false when it reaches no root.
bool ReadRoot(const SystemLibrary& crypt32, PCCERT_CONTEXT signer, HCERTSTORE carried, std::string& root) {
    const auto getChain = VANTOREL_FUNCTION(crypt32, CertGetCertificateChain);
    const auto freeChain = VANTOREL_FUNCTION(crypt32, CertFreeCertificateChain);
    if (!getChain || !freeChain) return false;
    CERT_CHAIN_PARA para = {};
    para.cbSize = sizeof para;
    PCCERT_CHAIN_CONTEXT chain = nullptr;
    if (!getChain(nullptr, signer, nullptr, carried, &para, 0, nullptr, &chain) || !chain) return false;
    bool found = false;
    if (chain->cChain > 0 && !(chain->TrustStatus.dwErrorStatus & CERT_TRUST_IS_PARTIAL_CHAIN)) {
        const CERT_SIMPLE_CHAIN* simple = chain->rgpChain[0];
        if (simple->cElement > 0) {
            const CERT_CONTEXT* top = simple->rgpElement[simple->cElement - 1]->pCertContext;
            root.assign(reinterpret_cast<const char*>(top->pbCertEncoded), top->cbCertEncoded);
            found = true;
        }
    }
    freeChain(chain);
    return found;
}

// The publisher of one signature (PKCS#7 signed data): its signer's subject
// and the root its chain ends at; nested receives the signatures nested in
// it. False when the signer or a chain to a root cannot be read.
bool ReadPublisher(const std::string& signedData, PublisherIdentity& identity, std::vector<std::string>& nested) {
    const SystemLibrary crypt32(L"crypt32.dll");
    const auto queryObject = VANTOREL_FUNCTION(crypt32, CryptQueryObject);
    const auto getParam = VANTOREL_FUNCTION(crypt32, CryptMsgGetParam);
    const auto findCertificate = VANTOREL_FUNCTION(crypt32, CertFindCertificateInStore);
    const auto freeCertificate = VANTOREL_FUNCTION(crypt32, CertFreeCertificateContext);
    const auto closeMessage = VANTOREL_FUNCTION(crypt32, CryptMsgClose);
    const auto closeStore = VANTOREL_FUNCTION(crypt32, CertCloseStore);
    if (!queryObject || !getParam || !findCertificate || !freeCertificate || !closeMessage || !closeStore)
        return false;
    CRYPT_DATA_BLOB blob = {static_cast<DWORD>(signedData.size()),
                            reinterpret_cast<BYTE*>(const_cast<char*>(signedData.data()))};
    HCERTSTORE store = nullptr;
    HCRYPTMSG message = nullptr;
    DWORD encoding = 0, contentType = 0, format = 0;
    if (!queryObject(CERT_QUERY_OBJECT_BLOB, &blob, CERT_QUERY_CONTENT_FLAG_PKCS7_SIGNED,
                     CERT_QUERY_FORMAT_FLAG_BINARY, 0, &encoding, &contentType, &format, &store, &message, nullptr))
        return false;
    bool read = false;
    DWORD size = 0;
    if (getParam(message, CMSG_SIGNER_CERT_INFO_PARAM, 0, nullptr, &size) && size != 0) {
        std::vector<BYTE> info(size);
        if (getParam(message, CMSG_SIGNER_CERT_INFO_PARAM, 0, info.data(), &size)) {
            PCCERT_CONTEXT signer = findCertificate(store, X509_ASN_ENCODING | PKCS_7_ASN_ENCODING, 0,
                                                    CERT_FIND_SUBJECT_CERT, info.data(), nullptr);
            if (signer) {
                read = DecodeName(crypt32, signer->pCertInfo->Subject, identity.subject) &&
                       ReadRoot(crypt32, signer, store, identity.root);
                freeCertificate(signer);
            }
        }
    }
    size = 0;
    if (getParam(message, CMSG_SIGNER_INFO_PARAM, 0, nullptr, &size) && size != 0) {
        std::vector<BYTE> buffer(size);
        if (getParam(message, CMSG_SIGNER_INFO_PARAM, 0, buffer.data(), &size)) {
            const auto* signer = reinterpret_cast<const CMSG_SIGNER_INFO*>(buffer.data());
            for (DWORD a = 0; a < signer->UnauthAttrs.cAttr; ++a) {
                const CRYPT_ATTRIBUTE& attribute = signer->UnauthAttrs.rgAttr[a];
                if (!attribute.pszObjId || std::strcmp(attribute.pszObjId, kNestedSignatureOid) != 0) continue;
                for (DWORD v = 0; v < attribute.cValue; ++v)
                    nested.emplace_back(reinterpret_cast<const char*>(attribute.rgValue[v].pbData),
                                        attribute.rgValue[v].cbData);
            }
        }
    }
    closeMessage(message);
    closeStore(store, 0);
    return read;
}

std::string ReadWholeFile(const std::wstring& path) {
    const HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr,
                                    OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return {};
    std::string bytes;
    LARGE_INTEGER size = {};
    // An agent is a few MiB; anything far larger is not one.
    if (GetFileSizeEx(file, &size) && size.QuadPart > 0 && size.QuadPart < (64 << 20)) {
        bytes.resize(static_cast<size_t>(size.QuadPart));
        DWORD read = 0;
        if (!ReadFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &read, nullptr) || read != bytes.size())
            bytes.clear();
    }
    CloseHandle(file);
    return bytes;
}

// What the trust rule needs of a file's signatures: each signature's
// publisher, the primary one first; verified ones checked by the platform
// (a nested one in a copy of the file where it stands first).
std::vector<SignatureFacts> ReadSignatureFacts(const std::wstring& path, SignatureTable& table, bool verify) {
    const std::string file = ReadWholeFile(path);
    std::string_view primary;
    table = file.empty() ? SignatureTable::Malformed : FindSignature(file, primary);
    std::vector<SignatureFacts> facts;
    if (table != SignatureTable::Present) return facts;
    std::vector<std::string> signatures{std::string(primary)};
    for (size_t i = 0; i < signatures.size(); ++i) {
        SignatureFacts signature;
        std::vector<std::string> nested;
        signature.readable = ReadPublisher(signatures[i], signature.identity, nested);
        if (i == 0) signatures.insert(signatures.end(), nested.begin(), nested.end());
        if (verify && i == 0) {
            signature.verified = VerifyFileSignature(path);
        } else if (verify) {
            const std::wstring alone = path + L".signature";
            const std::string copy = WithSignature(file, signatures[i]);
            const HANDLE out = CreateFileW(alone.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                           FILE_ATTRIBUTE_NORMAL, nullptr);
            DWORD written = 0;
            if (out != INVALID_HANDLE_VALUE) {
                const bool whole = !copy.empty() &&
                                   ::WriteFile(out, copy.data(), static_cast<DWORD>(copy.size()), &written, nullptr) &&
                                   written == copy.size();
                CloseHandle(out);
                signature.verified = whole && VerifyFileSignature(alone);
                DeleteFileW(alone.c_str());
            }
        }
        facts.push_back(std::move(signature));
    }
    return facts;
}

}  // namespace

std::u16string_view DescribeTrustVerdict(TrustVerdict verdict) {
    switch (verdict) {
        case TrustVerdict::Trusted:
            return u"trusted";
        case TrustVerdict::NotVerified:
            return u"carries no valid signature";
        case TrustVerdict::OwnUnreadable:
            return u"this agent's own signature cannot be read";
        case TrustVerdict::OtherPublisher:
            return u"is signed by another publisher or under another root";
    }
    return u"?";
}

TrustVerdict CheckAgentTrust(const std::wstring& running, const std::wstring& candidate) {
    SignatureTable ownTable = SignatureTable::None, table = SignatureTable::None;
    std::vector<PublisherIdentity> identities;
    for (const SignatureFacts& signature : ReadSignatureFacts(running, ownTable, false))
        if (signature.readable) identities.push_back(signature.identity);
    const OwnSignature own = ownTable == SignatureTable::None      ? OwnSignature::Unsigned
                             : ownTable == SignatureTable::Present ? OwnSignature::Signed
                                                                   : OwnSignature::Unreadable;
    return DecideAgentTrust(own, identities, ReadSignatureFacts(candidate, table, true));
}

std::u16string ReadFileVersion(const std::wstring& path) {
    const SystemLibrary version(L"version.dll");
    const auto infoSize = VANTOREL_FUNCTION(version, GetFileVersionInfoSizeW);
    const auto info = VANTOREL_FUNCTION(version, GetFileVersionInfoW);
    const auto query = VANTOREL_FUNCTION(version, VerQueryValueW);
    if (!infoSize || !info || !query) return {};
    DWORD ignored = 0;
    const DWORD size = infoSize(path.c_str(), &ignored);
    if (size == 0) return {};
    std::vector<BYTE> buffer(size);
    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT length = 0;
    if (!info(path.c_str(), 0, size, buffer.data()) ||
        !query(buffer.data(), L"\\", reinterpret_cast<void**>(&fixed), &length) || !fixed ||
        length < sizeof *fixed || fixed->dwSignature != 0xFEEF04BD)
        return {};
    const unsigned numbers[] = {HIWORD(fixed->dwFileVersionMS), LOWORD(fixed->dwFileVersionMS),
                                HIWORD(fixed->dwFileVersionLS), LOWORD(fixed->dwFileVersionLS)};
    wchar_t text[32];
    std::swprintf(text, 32, L"%u.%u.%u.%u", numbers[0], numbers[1], numbers[2], numbers[3]);
    return std::u16string(text, text + std::wcslen(text));
}

}  // namespace vantorel
