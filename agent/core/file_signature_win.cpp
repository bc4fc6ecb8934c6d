#include "agent/core/file_signature_win.h"

#include <windows.h>
#include <softpub.h>
#include <wincrypt.h>
#include <wintrust.h>

#include <cstdio>
#include <vector>

#include "agent/core/lifecycle_text.h"

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

bool ReadSignerCertificate(const std::wstring& path, std::string& certificate) {
    const SystemLibrary crypt32(L"crypt32.dll");
    const auto queryObject = VANTOREL_FUNCTION(crypt32, CryptQueryObject);
    const auto getParam = VANTOREL_FUNCTION(crypt32, CryptMsgGetParam);
    const auto findCertificate = VANTOREL_FUNCTION(crypt32, CertFindCertificateInStore);
    const auto freeCertificate = VANTOREL_FUNCTION(crypt32, CertFreeCertificateContext);
    const auto closeMessage = VANTOREL_FUNCTION(crypt32, CryptMsgClose);
    const auto closeStore = VANTOREL_FUNCTION(crypt32, CertCloseStore);
    if (!queryObject || !getParam || !findCertificate || !freeCertificate || !closeMessage || !closeStore)
        return false;
    HCERTSTORE store = nullptr;
    HCRYPTMSG message = nullptr;
    DWORD encoding = 0, contentType = 0, format = 0;
    if (!queryObject(CERT_QUERY_OBJECT_FILE, path.c_str(), CERT_QUERY_CONTENT_FLAG_PKCS7_SIGNED_EMBED,
                     CERT_QUERY_FORMAT_FLAG_BINARY, 0, &encoding, &contentType, &format, &store, &message, nullptr))
        return false;
    bool found = false;
    DWORD size = 0;
    if (getParam(message, CMSG_SIGNER_CERT_INFO_PARAM, 0, nullptr, &size) && size != 0) {
        std::vector<BYTE> info(size);
        if (getParam(message, CMSG_SIGNER_CERT_INFO_PARAM, 0, info.data(), &size)) {
            PCCERT_CONTEXT signer = findCertificate(store, X509_ASN_ENCODING | PKCS_7_ASN_ENCODING, 0,
                                                    CERT_FIND_SUBJECT_CERT, info.data(), nullptr);
            if (signer) {
                certificate.assign(reinterpret_cast<const char*>(signer->pbCertEncoded), signer->cbCertEncoded);
                found = true;
                freeCertificate(signer);
            }
        }
    }
    closeMessage(message);
    closeStore(store, 0);
    return found;
}

}  // namespace vantorel
