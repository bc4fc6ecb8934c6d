// The notification-area API as Windows 7 declares it. The agent is built for
// XP, but its icon record carries the Vista fields (its size is chosen at run
// time) and the icon-rectangle query is a Windows 7 name looked up at run
// time, so these two files need the newest layout. Include it first.
#pragma once

#undef _WIN32_WINNT
#undef WINVER
#undef NTDDI_VERSION
#define _WIN32_WINNT 0x0601
#define WINVER 0x0601
#define NTDDI_VERSION 0x06010000

#include <windows.h>
#include <shellapi.h>
