// The stand-in service's test-control interface for the Windows driver
// programs: GET http://127.0.0.1:9333/sim/... with WinINet.
#pragma once

#include <windows.h>
#include <wininet.h>

#include <string>

namespace driver {

struct SimReply {
    DWORD status = 0;  // 0: no answer
    std::string body;
};

// query: what follows "/sim/", such as L"wait?request=login&timeout=5000".
inline SimReply SimGet(const std::wstring& query)
{
    SimReply reply;
    HINTERNET root = InternetOpenW(L"tools-driver", INTERNET_OPEN_TYPE_DIRECT, nullptr, nullptr, 0);
    if (!root) return reply;
    const std::wstring url = L"http://127.0.0.1:9333/sim/" + query;
    if (HINTERNET request = InternetOpenUrlW(root, url.c_str(), nullptr, 0,
                                             INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_CACHE_WRITE, 0)) {
        DWORD size = sizeof reply.status;
        HttpQueryInfoW(request, HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER, &reply.status, &size, nullptr);
        char chunk[4096];
        DWORD count = 0;
        while (InternetReadFile(request, chunk, sizeof chunk, &count) && count != 0) reply.body.append(chunk, count);
        InternetCloseHandle(request);
    }
    InternetCloseHandle(root);
    return reply;
}

}  // namespace driver
