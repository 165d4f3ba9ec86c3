// The panel host's HTTP API as the page uses it. Every call resolves to the
// answer's JSON, or rejects with an ApiError that carries the host's own
// message. An answer that says the session is over (401) takes the page to
// the login page.

export class ApiError extends Error {
  constructor(status, message) {
    super(message);
    this.status = status;
  }
}

const LOGIN_PAGE = '/login';
let leaving = false;

// Goes to the login page, once: the answer that ended the session and the
// event stream that closed with it may both lead there, and a second
// navigation would cut the first one off.
export function toLoginPage() {
  if (!leaving) {
    leaving = true;
    window.location.assign(LOGIN_PAGE);
  }
}

export class HostApi {
  constructor() {
    // Operator events go out one at a time, in the order they were made:
    // keys typed quickly must reach the panel in the order they were typed.
    this.eventChain = Promise.resolve();
  }

  async request(method, path, body) {
    let response;
    try {
      response = await fetch(path, {
        method,
        headers: body === undefined ? {} : { 'Content-Type': 'application/json' },
        body: body === undefined ? undefined : JSON.stringify(body),
        cache: 'no-store',
      });
    } catch (error) {
      throw new ApiError(0, `the host cannot be reached (${error.message})`);
    }
    const answer = await response.json().catch(() => null);
    if (response.status === 401) {
      toLoginPage();
    }
    if (!response.ok) {
      const message = answer && answer.error ? answer.error : `${method} ${path}: ${response.status}`;
      throw new ApiError(response.status, message);
    }
    return answer;
  }

  // Who the page is logged in as: { user, role, token }.
  session() {
    return this.request('GET', '/api/session');
  }

  panels() {
    return this.request('GET', '/api/panels');
  }

  instance(id) {
    return this.request('GET', `/api/panels/${id}`);
  }

  // Delivers one operator event after every event sent before it.
  sendEvent(instance, panel, control, event) {
    const sent = this.eventChain.then(() =>
      this.request('POST', `/api/panels/${instance}/events`, { panel, control, event }));
    this.eventChain = sent.catch(() => undefined);
    return sent;
  }

  devices() {
    return this.request('GET', '/api/devices');
  }

  displayOutput() {
    return this.request('GET', '/api/tsl');
  }

  database(device, database) {
    return this.request('GET', `/api/devices/${device}/databases/${database}`);
  }

  slots(device) {
    return this.request('GET', `/api/devices/${device}/slots`);
  }

  slot(device, index) {
    return this.request('GET', `/api/devices/${device}/slots/${index}`);
  }

  writeName(device, database, index, text) {
    return this.request('PUT', `/api/devices/${device}/databases/${database}/${index}`,
      { text });
  }

  writeSlot(device, index, text) {
    return this.request('PUT', `/api/devices/${device}/slots/${index}`, { text });
  }

  log(since, limit) {
    const query = new URLSearchParams({ since: String(since) });
    if (limit !== undefined) {
      query.set('limit', String(limit));
    }
    return this.request('GET', `/api/log?${query}`);
  }

  // `filter` may hold device, database, index, before and limit.
  history(filter) {
    const query = new URLSearchParams();
    for (const [name, value] of Object.entries(filter)) {
      if (value !== undefined && value !== null) {
        query.set(name, String(value));
      }
    }
    return this.request('GET', `/api/history?${query}`);
  }
}
