// Follows a matrix of an Ember+ provider and prints what the consumer
// reports, one line per event, until stdin closes:
//   connected matrix=PATH identifier=ID targets=N sources=N labels=SET
//   target-label N TEXT / source-label N TEXT / connection T S,S | -
//   model-end                       (after the lines of a connected model)
//   disconnected REASON
// The provider cross-check (run-provider-test.sh) drives it.
#include <cstdio>
#include <iostream>
#include <string>

#include "EmberConsumer.h"
#include "EmberConsumerListener.h"
#include "EmberEndpoint.h"

namespace {

std::string sourcesText(const std::vector<std::uint32_t>& sources) {
    if (sources.empty()) {
        return "-";
    }
    std::string text;
    for (const std::uint32_t s : sources) {
        text += (text.empty() ? "" : ",") + std::to_string(s);
    }
    return text;
}

void printLine(const std::string& line) {
    std::fputs((line + "\n").c_str(), stdout);
    std::fflush(stdout);
}

class PrintingListener : public ember::EmberConsumerListener {
  public:
    void onConnected(const ember::RouterModel& model) override {
        printLine("connected matrix=" + model.matrixPath + " identifier=" + model.matrixIdentifier +
                  " targets=" + std::to_string(model.targetCount) +
                  " sources=" + std::to_string(model.sourceCount) + " labels=" + model.labelSet);
        for (const auto& [number, label] : model.targetLabels) {
            onLabelChanged(Signal::Target, number, label);
        }
        for (const auto& [number, label] : model.sourceLabels) {
            onLabelChanged(Signal::Source, number, label);
        }
        for (const auto& [target, sources] : model.connections) {
            onConnectionChanged(target, sources);
        }
        printLine("model-end");
    }
    void onDisconnected(const std::string& reason) override { printLine("disconnected " + reason); }
    void onLabelChanged(Signal signal, std::int32_t number, const std::string& label) override {
        printLine(std::string(signal == Signal::Target ? "target-label " : "source-label ") +
                  std::to_string(number) + " " + label);
    }
    void onConnectionChanged(std::int32_t target,
                             const std::vector<std::uint32_t>& sources) override {
        printLine("connection " + std::to_string(target) + " " + sourcesText(sources));
    }
};

}  // namespace

int main(int argc, char** argv) {
    ember::EmberEndpoint endpoint;
    std::string error;
    if (argc != 2 || !ember::EmberEndpoint::parse(argv[1], endpoint, error)) {
        std::fprintf(stderr, "usage: %s HOST:PORT[,matrix=PATH]\n%s\n", argv[0], error.c_str());
        return 2;
    }
    PrintingListener listener;
    {
        ember::EmberConsumer consumer(endpoint, listener);
        std::string line;
        while (std::getline(std::cin, line)) {
        }
    }
    return 0;
}
