#include "ServiceMetrics.h"

#include <algorithm>
#include <map>
#include <nlohmann/json.hpp>
#include <utility>

#include "DisplayOutput.h"
#include "EngineThread.h"
#include "HttpServer.h"
#include "PrometheusText.h"
#include "StoreHealth.h"
#include "TslTransport.h"

namespace panelhost {
namespace {

// The kinds of log entry (EventLog), and "other" for any kind added later.
const std::vector<std::string> kLogKinds = {"command", "answer",  "release", "notify",
                                            "event",   "message", "debug",   "tsl",
                                            "info",    "warning", "error",   "other"};
// Requests no rule names: the front end's files (GET outside /api/), and
// the rest, which are answered 404.
constexpr const char* kWebFiles = "/{file}";
constexpr const char* kUnmatched = "unmatched";

constexpr tsl::TslLinkState kLinkStates[] = {tsl::TslLinkState::Idle, tsl::TslLinkState::Connecting,
                                             tsl::TslLinkState::Ok, tsl::TslLinkState::Error};

std::size_t logKindIndex(const std::string& kind) {
    for (std::size_t i = 0; i + 1 < kLogKinds.size(); ++i) {
        if (kLogKinds[i] == kind) {
            return i;
        }
    }
    return kLogKinds.size() - 1;
}

// What the page reads on the engine thread in one call.
struct EngineView {
    EngineCounters counters;
    struct Instance {
        int id = 0;
        std::string state;
        std::uint64_t shownPanels = 0;
    };
    std::vector<Instance> instances;
    // The router behind the router device ("" without one) and its link.
    std::string router;
    std::string routerState;
};

// The link to the router behind the router device (--router), when there is one.
void writeRouter(PrometheusText& out, const EngineView& view) {
    if (view.router.empty()) {
        return;
    }
    out.family("panelhost_router_state", "gauge",
               "1 for the state of the link to the router (connecting, connected, disconnected).");
    for (const char* state : {"connecting", "connected", "disconnected"}) {
        out.sample("panelhost_router_state", {{"router", view.router}, {"state", state}},
                   std::uint64_t{view.routerState == state ? 1U : 0U});
    }
}

void writeEngine(PrometheusText& out, const EngineView& view) {
    out.family("panelhost_panel_instances", "gauge", "Panel instances that exist now.");
    out.sample("panelhost_panel_instances", {}, static_cast<std::uint64_t>(view.instances.size()));
    out.family("panelhost_panel_instance_state", "gauge",
               "1 for the state each panel instance is in (running, or closing once its script "
               "said goodbye).");
    for (const EngineView::Instance& instance : view.instances) {
        for (const char* state : {"running", "closing"}) {
            out.sample("panelhost_panel_instance_state",
                       {{"instance", std::to_string(instance.id)}, {"state", state}},
                       std::uint64_t{instance.state == state ? 1U : 0U});
        }
    }
    out.family("panelhost_panel_instance_shown_panels", "gauge",
               "Panels each panel instance shows now.");
    for (const EngineView::Instance& instance : view.instances) {
        out.sample("panelhost_panel_instance_shown_panels",
                   {{"instance", std::to_string(instance.id)}}, instance.shownPanels);
    }
    out.family("panelhost_commands_total", "counter",
               "Command lines the scripts sent, by command word (malformed: not understood).");
    for (const auto& [word, count] : view.counters.commands) {
        out.sample("panelhost_commands_total", {{"command", word}}, count);
    }
    out.family("panelhost_notifications_total", "counter",
               "Notifications delivered to the scripts, by kind.");
    for (const auto& [kind, count] : view.counters.notifications) {
        out.sample("panelhost_notifications_total", {{"kind", kind}}, count);
    }
    const StoreWriteStats& store = view.counters.storeWrites;
    out.family("panelhost_store_writes_total", "counter",
               "Writes of names and slots to the data file, by result (committed, failed).");
    out.sample("panelhost_store_writes_total", {{"result", "committed"}}, store.committed);
    out.sample("panelhost_store_writes_total", {{"result", "failed"}}, store.failed);
    out.family("panelhost_store_write_duration_seconds", "histogram",
               "Time each write of names or slots took, until durably committed.");
    out.histogram("panelhost_store_write_duration_seconds", {}, store.latency.read());
}

void writeTallyInputs(PrometheusText& out, const nlohmann::json& inputs) {
    if (inputs.empty()) {
        return;
    }
    out.family("panelhost_tally_input_packets_total", "counter",
               "Valid TSL packets each tally input took in.");
    for (const nlohmann::json& input : inputs) {
        out.sample("panelhost_tally_input_packets_total",
                   {{"input", input["input"].get<std::string>()}},
                   input["packets"].get<std::uint64_t>());
    }
    out.family("panelhost_tally_input_dropped_total", "counter",
               "Packets each tally input refused (malformed, truncated or too long).");
    for (const nlohmann::json& input : inputs) {
        out.sample("panelhost_tally_input_dropped_total",
                   {{"input", input["input"].get<std::string>()}},
                   input["dropped"].get<std::uint64_t>());
    }
    out.family("panelhost_tally_input_stale", "gauge",
               "1 for a tally input silent for longer than the stale time (its lamps are off).");
    for (const nlohmann::json& input : inputs) {
        out.sample("panelhost_tally_input_stale", {{"input", input["input"].get<std::string>()}},
                   std::uint64_t{input["stale"].get<bool>() ? 1U : 0U});
    }
}

void writeDisplays(PrometheusText& out, const DisplayOutput* displays) {
    const nlohmann::json status =
        displays == nullptr ? nlohmann::json{{"enabled", false}} : displays->statusJson();
    out.family("panelhost_tsl_enabled", "gauge", "1 when the display output drives receivers.");
    out.sample("panelhost_tsl_enabled", {}, std::uint64_t{displays != nullptr ? 1U : 0U});
    if (displays == nullptr) {
        return;
    }
    out.family("panelhost_tsl_packets_total", "counter",
               "TSL packets the display output made, for all receivers.");
    out.sample("panelhost_tsl_packets_total", {}, status.value("packets", std::uint64_t{0}));
    const nlohmann::json& receivers = status["receivers"];
    out.family("panelhost_tsl_receiver_packets_sent_total", "counter",
               "TSL packets sent to each receiver.");
    for (const nlohmann::json& receiver : receivers) {
        out.sample("panelhost_tsl_receiver_packets_sent_total",
                   {{"target", receiver["target"].get<std::string>()}},
                   receiver["packetsSent"].get<std::uint64_t>());
    }
    out.family("panelhost_tsl_receiver_packets_dropped_total", "counter",
               "TSL packets given up for each receiver (queue full, or sending failed).");
    for (const nlohmann::json& receiver : receivers) {
        out.sample("panelhost_tsl_receiver_packets_dropped_total",
                   {{"target", receiver["target"].get<std::string>()}},
                   receiver["packetsDropped"].get<std::uint64_t>());
    }
    out.family("panelhost_tsl_driving", "gauge",
               "1 for each receiver this host drives, 0 for one another host drives (or none).");
    for (const nlohmann::json& receiver : receivers) {
        out.sample("panelhost_tsl_driving", {{"target", receiver["target"].get<std::string>()}},
                   std::uint64_t{receiver["driving"].get<bool>() ? 1U : 0U});
    }
    out.family("panelhost_tsl_receiver_state", "gauge",
               "1 for the state each receiver's link is in (idle, connecting, ok, error).");
    for (const nlohmann::json& receiver : receivers) {
        const std::string target = receiver["target"].get<std::string>();
        const std::string current = receiver["state"].get<std::string>();
        for (const tsl::TslLinkState state : kLinkStates) {
            const std::string name = tsl::toString(state);
            out.sample("panelhost_tsl_receiver_state", {{"target", target}, {"state", name}},
                       std::uint64_t{name == current ? 1U : 0U});
        }
    }
    writeTallyInputs(out, status["tallyInputs"]);
}

}  // namespace

ServiceMetrics::RequestMeter::RequestMeter(ServiceMetrics* metrics, std::size_t route,
                                           const HttpResponse& response)
    : metrics_(metrics), route_(route), response_(response), started_(Clock::now()) {}

ServiceMetrics::RequestMeter::~RequestMeter() {
    if (metrics_ != nullptr) {
        metrics_->countRequest(route_, response_.status, Clock::now() - started_);
    }
}

ServiceMetrics::ServiceMetrics() {
    declareRoutes({});
    logEntries_ = std::make_unique<std::atomic<std::uint64_t>[]>(kLogKinds.size());
    for (std::size_t i = 0; i < kLogKinds.size(); ++i) {
        logEntries_[i] = 0;
    }
}

ServiceMetrics::~ServiceMetrics() = default;

void ServiceMetrics::declareRoutes(std::vector<RouteName> routes) {
    routes_ = std::move(routes);
    routes_.push_back({"GET", kWebFiles});
    routes_.push_back({"any", kUnmatched});
    static_assert(kWebFilesRoute == 0 && kUnmatchedRoute == 1, "the order pushed above");
    requests_ = std::make_unique<RouteCounters[]>(routes_.size());
}

void ServiceMetrics::countRequest(std::size_t route, int status, Clock::duration took) {
    route = std::min(route, routes_.size() - 1);
    const int counted = std::clamp(status, kLowestStatus, kHighestStatus);
    requests_[route].statuses[static_cast<std::size_t>(counted - kLowestStatus)] += 1;
    requests_[route].latency.record(took);
}

void ServiceMetrics::countLogEntry(const std::string& kind) {
    logEntries_[logKindIndex(kind)] += 1;
}

std::string ServiceMetrics::page(EngineThread& engine, const DisplayOutput* displays) const {
    const EngineView view = engine.call([](HostEngine& host) {
        EngineView read{host.counters(), {}, host.router().endpoint(), host.router().state()};
        for (const int id : host.instanceIds()) {
            const nlohmann::json instance = *host.instanceJson(id);
            read.instances.push_back({id, instance["state"].get<std::string>(),
                                      static_cast<std::uint64_t>(instance["shown"].size())});
        }
        return read;
    });
    PrometheusText out;
    writeEngine(out, view);

    out.family("panelhost_http_requests_total", "counter",
               "HTTP requests answered, by method, route pattern and status.");
    for (std::size_t route = 0; route < routes_.size(); ++route) {
        for (std::size_t status = 0; status < kStatuses; ++status) {
            const std::uint64_t count = requests_[route].statuses[status];
            if (count > 0) {
                out.sample("panelhost_http_requests_total",
                           {{"method", routes_[route].method},
                            {"route", routes_[route].route},
                            {"status", std::to_string(kLowestStatus + static_cast<int>(status))}},
                           count);
            }
        }
    }
    out.family("panelhost_http_request_duration_seconds", "histogram",
               "Time from a request's arrival at the API to its answer, by method and route "
               "pattern (routes not yet asked for are left out).");
    for (std::size_t route = 0; route < routes_.size(); ++route) {
        const LatencyBuckets buckets = requests_[route].latency.read();
        if (buckets.total() > 0) {
            out.histogram("panelhost_http_request_duration_seconds",
                          {{"method", routes_[route].method}, {"route", routes_[route].route}},
                          buckets);
        }
    }
    const HttpServer* server = server_;
    out.family("panelhost_event_stream_clients", "gauge", "Event streams open now.");
    out.sample("panelhost_event_stream_clients", {},
               static_cast<std::uint64_t>(server == nullptr ? 0 : server->streams()));

    writeDisplays(out, displays);
    writeRouter(out, view);
    if (const StoreHealth* store = store_) {
        const StoreHealth::State state = store->state();
        out.family("panelhost_store_connected", "gauge",
                   "1 while the PostgreSQL store is connected, 0 while it is away.");
        out.sample("panelhost_store_connected", {}, std::uint64_t{state.away ? 0U : 1U});
        out.family("panelhost_store_server", "gauge",
                   "The server (host:port) the store's connection was made to last: the primary, "
                   "when the URL names several.");
        out.sample("panelhost_store_server", {{"server", state.server}}, std::uint64_t{1});
        out.family("panelhost_store_reconnections_total", "counter",
                   "Connections to the store made again after a loss.");
        out.sample("panelhost_store_reconnections_total", {}, state.reconnections);
    }

    out.family("panelhost_log_entries_total", "counter", "Entries written to the log, by kind.");
    for (std::size_t i = 0; i < kLogKinds.size(); ++i) {
        out.sample("panelhost_log_entries_total", {{"kind", kLogKinds[i]}},
                   static_cast<std::uint64_t>(logEntries_[i]));
    }
    out.family("panelhost_errors_total", "counter",
               "Errors the host logged (log entries of kind error).");
    out.sample("panelhost_errors_total", {},
               static_cast<std::uint64_t>(logEntries_[logKindIndex("error")]));
    return out.text();
}

}  // namespace panelhost
