#pragma once

#include <array>
#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "HttpResponse.h"
#include "LatencyHistogram.h"

namespace panelhost {

class DisplayOutput;
class EngineThread;
class HttpServer;
class StoreHealth;

// The host's counters for its metrics page: API requests by route (the
// route's pattern, never the raw path, so the number of series stays fixed)
// and status with their latency, and log entries by kind. Every counter is
// an atomic: any thread may count and read at any time without a lock.
// page() adds what other parts keep themselves: the engine's counters and
// panel instances (read through the engine thread), the display output's
// receivers and the HTTP server's event streams.
class ServiceMetrics {
  public:
    using Clock = std::chrono::steady_clock;

    // A route's method and pattern, as the metrics name it.
    struct RouteName {
        std::string method;
        std::string route;
    };
    // After the declared routes, where a request that no route names is
    // counted: a file of the web folder, or nothing at all.
    static constexpr std::size_t kWebFilesRoute = 0;
    static constexpr std::size_t kUnmatchedRoute = 1;

    // Times one request from its construction to its destruction, and
    // counts it then under route number `route` (see declareRoutes()) and
    // the status the response has by then. `metrics` may be null (nothing
    // is counted); `response` must outlive the meter.
    class RequestMeter {
      public:
        RequestMeter(ServiceMetrics* metrics, std::size_t route, const HttpResponse& response);
        ~RequestMeter();

        RequestMeter(const RequestMeter&) = delete;
        RequestMeter& operator=(const RequestMeter&) = delete;

      private:
        ServiceMetrics* metrics_;
        const std::size_t route_;
        const HttpResponse& response_;
        Clock::time_point started_;
    };

    ServiceMetrics();
    ~ServiceMetrics();

    ServiceMetrics(const ServiceMetrics&) = delete;
    ServiceMetrics& operator=(const ServiceMetrics&) = delete;

    // Names the routes requests are counted under, in the order of their
    // numbers; the web folder's files and the unmatched requests follow
    // them (kWebFilesRoute, kUnmatchedRoute). Once, before the first request
    // is counted and the page is read (the API does it when it is made).
    void declareRoutes(std::vector<RouteName> routes);

    // A request to route number `route` answered with `status`.
    void countRequest(std::size_t route, int status, Clock::duration took);
    // One log entry of `kind`; quick enough for a log listener.
    void countLogEntry(const std::string& kind);

    // The server whose event streams the page counts; null before it runs
    // and after it stops. The server must stay alive while it is watched.
    void watchServer(const HttpServer* server) { server_ = server; }
    // The PostgreSQL store whose state the page shows; null for a data
    // file, and once the host stops. It must stay alive while watched.
    void watchStore(const StoreHealth* store) { store_ = store; }

    // The whole page in the Prometheus text format. Waits for the engine
    // thread; throws std::runtime_error when it has stopped. `displays` may
    // be null (no display output) and must stay alive during the call.
    std::string page(EngineThread& engine, const DisplayOutput* displays) const;

  private:
    // Statuses counted one by one: every status HTTP defines.
    static constexpr int kLowestStatus = 100;
    static constexpr int kHighestStatus = 599;
    static constexpr std::size_t kStatuses = kHighestStatus - kLowestStatus + 1;

    struct RouteCounters {
        std::array<std::atomic<std::uint64_t>, kStatuses> statuses{};
        SharedLatencyHistogram latency;
    };
    std::vector<RouteName> routes_;
    std::unique_ptr<RouteCounters[]> requests_;
    std::unique_ptr<std::atomic<std::uint64_t>[]> logEntries_;
    std::atomic<const HttpServer*> server_{nullptr};
    std::atomic<const StoreHealth*> store_{nullptr};
};

}  // namespace panelhost
