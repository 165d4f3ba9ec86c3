// The Ember+ consumer's decoding on arbitrary bytes from a provider: the
// S101 decoder fed in chunks whose sizes the input chooses, every message
// it completes through the Glow decoder and a matrix follower, and the same
// bytes straight into the Glow decoder, so that BER faults are reached
// without a valid CRC. Malformed input must end in an error value; every
// request the follower makes must decode back to a GetDirectory. A broken
// promise aborts with its text.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "EmberConsumerListener.h"
#include "GlowDecoder.h"
#include "MatrixFollower.h"
#include "S101Decoder.h"

namespace {

void check(bool promise, const char* text) {
    if (!promise) {
        std::fprintf(stderr, "broken promise: %s\n", text);
        __builtin_trap();
    }
}

class QuietListener : public ember::EmberConsumerListener {
  public:
    void onConnected(const ember::RouterModel&) override {}
    void onDisconnected(const std::string&) override {}
    void onLabelChanged(Signal, std::int32_t, const std::string&) override {}
    void onConnectionChanged(std::int32_t, const std::vector<std::uint32_t>&) override {}
};

void follow(ember::MatrixFollower& follower, const std::vector<ember::GlowElement>& elements) {
    std::vector<std::vector<std::uint8_t>> requests;
    std::string error;
    if (!follower.handle(elements, requests, error)) {
        check(!error.empty(), "a follower that stops says why");
        return;
    }
    for (const auto& request : requests) {
        std::vector<ember::GlowElement> decoded;
        check(ember::GlowDecoder::decode(request, decoded, error), "requests decode");
        check(!decoded.empty() && decoded.back().kind == ember::GlowKind::Command &&
                  decoded.back().command ==
                      static_cast<std::int32_t>(ember::GlowCommandType::GetDirectory),
              "a request is a GetDirectory");
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) {
        return 0;
    }
    const std::size_t chunk = 1 + data[0] % 64;
    ++data;
    --size;

    QuietListener listener;
    ember::MatrixSelector selector;
    std::string error;
    ember::MatrixFollower follower(selector, listener);
    follower.start();

    ember::S101Decoder decoder;
    for (std::size_t offset = 0; offset < size; offset += chunk) {
        std::vector<ember::S101Decoder::Event> events;
        const std::size_t n = size - offset < chunk ? size - offset : chunk;
        const bool ok = decoder.feed(data + offset, n, events, error);
        for (const auto& event : events) {
            check(event.payload.size() <= ember::S101Decoder::kMaxMessageBytes,
                  "messages stay within the bound");
            std::vector<ember::GlowElement> elements;
            if (ember::GlowDecoder::decode(event.payload, elements, error)) {
                follow(follower, elements);
            } else {
                check(!error.empty(), "a refused message says why");
            }
        }
        if (!ok) {
            check(!error.empty(), "a refused frame says why");
            break;
        }
    }

    std::vector<ember::GlowElement> elements;
    const std::vector<std::uint8_t> payload(data, data + size);
    if (ember::GlowDecoder::decode(payload, elements, error)) {
        follow(follower, elements);
    } else {
        check(!error.empty(), "a refused message says why");
    }
    return 0;
}
