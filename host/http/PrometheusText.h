#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "LatencyHistogram.h"

namespace panelhost {

// Writes a metrics page in the Prometheus text exposition format (0.0.4):
// each family's HELP and TYPE lines, then its samples, with label values
// and help texts escaped as the format demands. The caller keeps a family's
// samples together and gives each family once. Plain data for one thread.
class PrometheusText {
  public:
    using Labels = std::vector<std::pair<std::string, std::string>>;

    // The Content-Type the page is served with.
    static constexpr const char* kContentType = "text/plain; version=0.0.4; charset=utf-8";

    // Starts a family: `type` is "counter", "gauge" or "histogram".
    void family(const std::string& name, const char* type, const std::string& help);
    void sample(const std::string& name, const Labels& labels, std::uint64_t value);
    void sample(const std::string& name, const Labels& labels, double value);
    // The _bucket (cumulative, with le), _sum (seconds) and _count lines of
    // a histogram family `name`.
    void histogram(const std::string& name, const Labels& labels, const LatencyBuckets& buckets);

    const std::string& text() const { return text_; }

    // A label value: backslash, double quote and line feed escaped.
    static std::string escapeLabel(const std::string& value);
    // A help text: backslash and line feed escaped.
    static std::string escapeHelp(const std::string& help);

  private:
    void line(const std::string& name, const Labels& labels, const std::string& value);

    std::string text_;
};

}  // namespace panelhost
