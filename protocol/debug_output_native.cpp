#include <cstdio>
#include <mutex>
#include <string>

#include "protocol/debug_output.h"
#include "protocol/utf8.h"

namespace vantorel {
namespace {

std::mutex sinkLock;
DebugSink& Sink() {
    static DebugSink sink;
    return sink;
}

}  // namespace

void DebugOutput(std::u16string_view text) {
    std::lock_guard<std::mutex> hold(sinkLock);
    if (Sink()) {
        Sink()(text);
        return;
    }
    std::string bytes = EncodeUtf8(text);
    std::fwrite(bytes.data(), 1, bytes.size(), stderr);
}

DebugSink SetDebugSink(DebugSink sink) {
    std::lock_guard<std::mutex> hold(sinkLock);
    DebugSink previous = std::move(Sink());
    Sink() = std::move(sink);
    return previous;
}

}  // namespace vantorel
