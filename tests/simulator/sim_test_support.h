// Shared pieces of the simulator's tests: a simulator on a free port with
// its own root folder, requests built from the service table, JSON reading.
#pragma once

#include <gtest/gtest.h>
#include <httplib.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <string>
#include <thread>

#include "protocol/http_client.h"
#include "protocol/json_value.h"
#include "protocol/service_api.h"
#include "protocol/upload_body.h"
#include "protocol/utf8.h"
#include "simulator/simulator.h"

namespace vantorel::sim::testing {

// A folder under the temporary directory, removed with everything in it.
class TempFolder {
public:
    TempFolder() {
        std::string pattern = (std::filesystem::temp_directory_path() / "sim-test.XXXXXX").string();
        path_ = mkdtemp(pattern.data()) ? pattern : std::string();
    }
    ~TempFolder() {
        std::error_code ignored;
        std::filesystem::remove_all(path_, ignored);
    }
    const std::filesystem::path& path() const { return path_; }

private:
    std::filesystem::path path_;
};

inline void WriteFile(const std::filesystem::path& path, const std::string& bytes) {
    std::filesystem::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary) << bytes;
}

inline std::string ReadFile(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

inline JsonValue ParseJson(const std::string& utf8) {
    JsonValue value;
    EXPECT_TRUE(value.Parse(DecodeUtf8Lenient(utf8))) << utf8;
    return value;
}

inline std::string Utf8Of(JsonValue& value, std::u16string_view member) {
    return EncodeUtf8(value.Member(member).Text());
}

// Polls `done` every 10 ms for up to `limit`; the limits are generous, only
// there so that a fault ends the test instead of hanging it.
inline bool WaitUntil(const std::function<bool()>& done,
                      std::chrono::milliseconds limit = std::chrono::milliseconds(10000)) {
    const auto end = std::chrono::steady_clock::now() + limit;
    while (!done()) {
        if (std::chrono::steady_clock::now() > end) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return true;
}

class SimulatorTest : public ::testing::Test {
protected:
    // Fast settings for tests; a test changes options before Start().
    SimulatorTest() {
        options.port = 0;
        options.root = root.path();
        options.logPath = (root.path() / "access.log").string();
        options.settings.pollTimeoutMs = 300;
        options.settings.loginDelayMs = 200;
        options.settings.logoutDelayMs = 200;
        options.settings.uploadRate = 0;
        options.settings.completedHoldMs = -1;
        options.initialLogin = LOGIN_LOGGED_IN;
    }

    void Start() {
        simulator = std::make_unique<Simulator>(options);
        std::string error;
        ASSERT_TRUE(simulator->Start(error)) << error;
    }

    void TearDown() override {
        if (simulator) simulator->Stop();
    }

    std::u16string Url(ServiceRequest request) const {
        const std::string origin = "http://127.0.0.1:" + std::to_string(simulator->Port());
        return DecodeUtf8Lenient(origin) + std::u16string(ServiceTarget(request));
    }

    // Through the agent's own native transport.
    std::string Fetch(ServiceRequest request) const {
        std::string reply;
        EXPECT_TRUE(HttpGetBytes(Url(request), reply));
        return reply;
    }

    std::unique_ptr<httplib::Client> Client() const {
        auto client = std::make_unique<httplib::Client>("127.0.0.1", simulator->Port());
        client->set_read_timeout(30);
        return client;
    }

    // A test-control request; fails the test on a transport error.
    httplib::Response Control(const std::string& target, const std::string& body = {}) const {
        httplib::Result result = body.empty() ? Client()->Get(target.c_str())
                                              : Client()->Post(target.c_str(), body, "application/octet-stream");
        EXPECT_TRUE(result) << target;
        return result ? *result : httplib::Response();
    }

    JsonValue State() const { return ParseJson(Control("/sim/state").body); }

    // POSTs the upload body exactly as the agent builds it.
    httplib::Result PostUpload(const UploadPathList& paths) const {
        return PostBody(ToUtf8(BuildUploadBody(paths)));
    }

    httplib::Result PostBody(const std::string& body) const {
        const std::string target = EncodeUtf8(ServiceTarget(ServiceRequest::FileTransfer));
        return Client()->Post(target.c_str(), body, "application/x-www-form-urlencoded;charset=UTF-8;");
    }

    TempFolder root;
    SimulatorOptions options;
    std::unique_ptr<Simulator> simulator;
};

}  // namespace vantorel::sim::testing
