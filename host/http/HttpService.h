#pragma once

#include "HttpRequest.h"
#include "HttpResponse.h"

namespace panelhost {

// What an HttpServer serves: the server parses requests and writes answers;
// the service decides what each answer is. The service must outlive the
// server.
class HttpService {
  public:
    virtual ~HttpService() = default;

    // Fills in the response to one request. Runs on one of the server's
    // worker threads, never on an I/O thread, so it may wait (on the
    // engine, on a file). Several requests are answered at once on
    // different workers.
    virtual void respond(HttpRequest& request, HttpResponse& response) = 0;

    // Answers the request on the I/O thread, sparing it the two hand-overs
    // to a worker and back, when that needs no wait: true, with `response`
    // filled. False, `response` untouched, when it must go to respond().
    // Runs on an I/O thread: must not wait on anything.
    virtual bool respondAtOnce(HttpRequest&, HttpResponse&) { return false; }

    // The answer for a request the server refuses itself with `status`
    // (400, 411, 413, 431, 500, 503), of which only the head may have been
    // read. Runs on an I/O thread: must not wait on anything.
    virtual void refuse(const HttpRequest& request, int status, HttpResponse& response) = 0;
};

}  // namespace panelhost
