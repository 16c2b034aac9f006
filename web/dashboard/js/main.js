// The dashboard: connects to the broker that served the page (MQTT over
// WebSockets on the same host and port), subscribes to the bridges' topics
// under the base topic, and publishes the relay commands. The scripts are
// classic ones, not modules: mosquitto serves files without a Content-Type,
// which browsers refuse for module scripts. mqtt.min.js defines mqtt.

"use strict";

(function (dashboard, mqtt) {
  const { askLogin, forgetLogin, saveLogin, savedLogin } = dashboard.login;
  const { ERROR_SHOWN_MS, Model, validBase } = dashboard.model;
  const View = dashboard.View;

  const DEFAULT_BASE = "rxb540";
  // CONNACK codes that mean the account was refused: MQTT 3.1.1 (4, 5) and 5.
  const REFUSED = new Set([4, 5, 134, 135]);

  const page = {
    status: document.getElementById("connection"),
    hosts: document.getElementById("hosts"),
    empty: document.getElementById("empty"),
    form: document.getElementById("login"),
    base: document.getElementById("base"),
  };

  function showStatus(text) {
    page.status.textContent = text;
  }

  function brokerUrl() {
    const scheme = location.protocol === "https:" ? "wss:" : "ws:";
    return scheme + "//" + location.host + "/mqtt";
  }

  function subscriptions(base) {
    return ["status", "boards", "error", "+/availability", "+/info", "+/relay/+"].map((rest) => base + "/+/" + rest);
  }

  function start(base) {
    const model = new Model(base);
    const view = new View(model, page.hosts, page.empty);
    let client = null;
    const decoder = new TextDecoder();

    function onMessage(topic, payload) {
      const text = decoder.decode(payload);
      const hostId = model.apply(topic, text, Date.now());
      if (!hostId) return;
      view.changedHost(hostId);
      if (topic.endsWith("/error")) setTimeout(() => view.changedHost(hostId), ERROR_SHOWN_MS + 100);
    }

    function connect(login) {
      // Native timers: the worker that mqtt.js would start for them is a blob
      // script, which the page's policy does not allow.
      const options = { clean: true, reconnectPeriod: 2000, connectTimeout: 10000, protocolVersion: 4 };
      Object.assign(options, { timerVariant: "native" }, login || {});
      showStatus("connecting to " + location.host + " …");
      const current = mqtt.connect(brokerUrl(), options);
      client = current;
      // Events of a client that was given up (refused) say nothing any more.
      const on = (event, handler) => current.on(event, (...args) => client === current && handler(...args));
      on("connect", () => {
        if (login) saveLogin(login);
        showStatus("connected" + (login ? " as " + login.username : ""));
        // QoS 0: a view needs no acknowledgements, and a clean session gets
        // every retained topic again after a reconnection. A large fleet needs
        // the broker's max_queued_messages raised (docs/dashboard.md).
        current.subscribe(subscriptions(base), { qos: 0 });
      });
      on("message", onMessage);
      on("reconnect", () => showStatus("reconnecting …"));
      on("offline", () => showStatus("not connected to the broker"));
      on("error", (error) => {
        if (!REFUSED.has(error.code)) return;
        client = null;
        current.end(true);
        forgetLogin();
        showStatus("the broker asks for an account");
        askLogin(page.form, login ? "The broker refused that account." : "", connect);
      });
    }

    // A click asks the bridge; the switch turns when the bridge's relay topic
    // says the board took it.
    page.hosts.addEventListener("click", (event) => {
      const button = event.target.closest("button[data-relay]");
      // Nothing is queued while the connection is down: a command sent
      // minutes later would switch a relay nobody is looking at.
      if (!button || !client || !client.connected || button.getAttribute("aria-disabled") === "true") return;
      const { host, serial, relay } = button.dataset;
      let payload = "PULSE";
      if (button.dataset.action !== "pulse") payload = button.getAttribute("aria-checked") === "true" ? "OFF" : "ON";
      const topic = base + "/" + host + "/" + serial + "/relay/" + relay + "/set";
      client.publish(topic, payload, { qos: 1, retain: false });
    });

    connect(savedLogin());
  }

  const base = new URLSearchParams(location.search).get("base") || DEFAULT_BASE;
  page.base.textContent = base;
  if (validBase(base)) start(base);
  else showStatus("The base topic must have no empty level and no + or #.");
})(window.rxb540Dashboard, window.mqtt);
