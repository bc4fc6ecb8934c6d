#include "agent/core/file_signature_win.h"

#include <windows.h>
#include <softpub.h>
#include <wincrypt.h>
#include <wintrust.h>

#include <cstdio>
#include <vector>

#include "agent/core/lifecycle_text.h"

namespace vantorel {

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
    const LONG result = WinVerifyTrust(nullptr, &action, &data);
    const DWORD lastError = GetLastError();
    const SignatureVerdict verdict = DescribeSignatureResult(std::u16string(path.begin(), path.end()),
                                                             static_cast<uint32_t>(result), lastError);
    const std::wstring line(verdict.line.begin(), verdict.line.end());
    std::wprintf(L"%ls", line.c_str());
    std::fflush(stdout);
    return verdict.verified;
}

bool ReadSignerCertificate(const std::wstring& path, std::string& certificate) {
    HCERTSTORE store = nullptr;
    HCRYPTMSG message = nullptr;
    DWORD encoding = 0, contentType = 0, format = 0;
    if (!CryptQueryObject(CERT_QUERY_OBJECT_FILE, path.c_str(), CERT_QUERY_CONTENT_FLAG_PKCS7_SIGNED_EMBED,
                          CERT_QUERY_FORMAT_FLAG_BINARY, 0, &encoding, &contentType, &format, &store, &message,
                          nullptr))
        return false;
    bool found = false;
    DWORD size = 0;
    if (CryptMsgGetParam(message, CMSG_SIGNER_CERT_INFO_PARAM, 0, nullptr, &size) && size != 0) {
        std::vector<BYTE> info(size);
        if (CryptMsgGetParam(message, CMSG_SIGNER_CERT_INFO_PARAM, 0, info.data(), &size)) {
            PCCERT_CONTEXT signer = CertFindCertificateInStore(store, X509_ASN_ENCODING | PKCS_7_ASN_ENCODING, 0,
                                                               CERT_FIND_SUBJECT_CERT, info.data(), nullptr);
            if (signer) {
                certificate.assign(reinterpret_cast<const char*>(signer->pbCertEncoded), signer->cbCertEncoded);
                found = true;
                CertFreeCertificateContext(signer);
            }
        }
    }
    CryptMsgClose(message);
    CertCloseStore(store, 0);
    return found;
}

}  // namespace vantorel
