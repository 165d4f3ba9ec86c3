#include "PrometheusText.h"

#include <array>
#include <charconv>
#include <cmath>

namespace panelhost {
namespace {

// Room for the shortest text that reads back as the same double.
constexpr std::size_t kLongestNumber = 32;
constexpr double kNanosecondsPerSecond = 1e9;

std::string number(double value) {
    if (std::isnan(value)) {
        return "NaN";
    }
    if (std::isinf(value)) {
        return value > 0 ? "+Inf" : "-Inf";
    }
    std::array<char, kLongestNumber> buffer{};
    const auto written = std::to_chars(buffer.data(), buffer.data() + buffer.size(), value,
                                       std::chars_format::general);
    return std::string(buffer.data(), written.ptr);
}

}  // namespace

std::string PrometheusText::escapeLabel(const std::string& value) {
    std::string escaped;
    escaped.reserve(value.size());
    for (const char c : value) {
        if (c == '\\') {
            escaped += "\\\\";
        } else if (c == '"') {
            escaped += "\\\"";
        } else if (c == '\n') {
            escaped += "\\n";
        } else {
            escaped += c;
        }
    }
    return escaped;
}

std::string PrometheusText::escapeHelp(const std::string& help) {
    std::string escaped;
    escaped.reserve(help.size());
    for (const char c : help) {
        if (c == '\\') {
            escaped += "\\\\";
        } else if (c == '\n') {
            escaped += "\\n";
        } else {
            escaped += c;
        }
    }
    return escaped;
}

void PrometheusText::family(const std::string& name, const char* type, const std::string& help) {
    text_ += "# HELP " + name + " " + escapeHelp(help) + "\n";
    text_ += "# TYPE " + name + " " + type + "\n";
}

void PrometheusText::sample(const std::string& name, const Labels& labels, std::uint64_t value) {
    line(name, labels, std::to_string(value));
}

void PrometheusText::sample(const std::string& name, const Labels& labels, double value) {
    line(name, labels, number(value));
}

void PrometheusText::histogram(const std::string& name, const Labels& labels,
                               const LatencyBuckets& buckets) {
    std::uint64_t cumulative = 0;
    for (std::size_t i = 0; i < buckets.counts.size(); ++i) {
        cumulative += buckets.counts[i];
        Labels withBound = labels;
        withBound.emplace_back("le", i < LatencyBuckets::kCount ? number(LatencyBuckets::kBounds[i])
                                                                : std::string("+Inf"));
        line(name + "_bucket", withBound, std::to_string(cumulative));
    }
    line(name + "_sum", labels,
         number(static_cast<double>(buckets.sumNanoseconds) / kNanosecondsPerSecond));
    line(name + "_count", labels, std::to_string(cumulative));
}

void PrometheusText::line(const std::string& name, const Labels& labels, const std::string& value) {
    text_ += name;
    if (!labels.empty()) {
        text_ += '{';
        for (std::size_t i = 0; i < labels.size(); ++i) {
            if (i > 0) {
                text_ += ',';
            }
            text_ += labels[i].first + "=\"" + escapeLabel(labels[i].second) + "\"";
        }
        text_ += '}';
    }
    text_ += ' ' + value + '\n';
}

}  // namespace panelhost
