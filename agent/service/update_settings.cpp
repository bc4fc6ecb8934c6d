// This agent's update settings. Compiled into each agent executable on its
// own, with the values of that build (see vantorel_add_agent); a build that
// sets none gets the shipped values.
#include "agent/service/package_versions.h"

namespace vantorel {

const UpdateSettings& BuiltInUpdateSettings() {
    static const UpdateSettings settings = [] {
        UpdateSettings built;
#ifdef VANTOREL_PACKAGE_VERSION
        built.packageVersion = u"" VANTOREL_PACKAGE_VERSION;
#endif
#ifdef VANTOREL_PACKAGE_SERVER_URL
        built.packageServerUrl = u"" VANTOREL_PACKAGE_SERVER_URL;
#endif
#ifdef VANTOREL_UPDATE_FIRST_CHECK_DELAY_MS
        built.firstCheckDelayMs = VANTOREL_UPDATE_FIRST_CHECK_DELAY_MS;
#endif
#ifdef VANTOREL_UPDATE_CHECK_INTERVAL_MS
        built.checkIntervalMs = VANTOREL_UPDATE_CHECK_INTERVAL_MS;
#endif
#ifdef VANTOREL_UPDATE_RECEIVE_TIMEOUT_MS
        built.receiveTimeoutMs = VANTOREL_UPDATE_RECEIVE_TIMEOUT_MS;
#endif
#ifdef VANTOREL_UPDATE_RETRY_LONGEST_PAUSE_MS
        built.retryLongestPauseMs = VANTOREL_UPDATE_RETRY_LONGEST_PAUSE_MS;
#endif
#ifdef VANTOREL_UPDATE_MAX_DOWNLOAD_BYTES
        built.maxDownloadBytes = VANTOREL_UPDATE_MAX_DOWNLOAD_BYTES;
#endif
        return built;
    }();
    return settings;
}

}  // namespace vantorel
