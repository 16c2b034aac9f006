// The page's hosts, boards and relays, drawn from the model. Messages only
// mark hosts as changed; the changed hosts are drawn once per animation
// frame, and only the attributes and texts that differ are touched, so a
// burst of retained messages costs one layout.

"use strict";

(function (dashboard) {
  const { boardOffline, boardsInOrder, relayChecked, relayCount, relayName } = dashboard.model;

  function element(tag, className, text) {
    const node = document.createElement(tag);
    if (className) node.className = className;
    if (text !== undefined) node.textContent = text;
    return node;
  }

  function setText(node, text) {
    if (node.textContent !== text) node.textContent = text;
  }

  function setAttribute(node, name, value) {
    if (node.getAttribute(name) !== value) node.setAttribute(name, value);
  }

  function relayData(node, host, board, n) {
    node.dataset.host = host.id;
    node.dataset.serial = board.serial;
    node.dataset.relay = String(n);
  }

  function newRelayView(host, board, n) {
    const row = element("li", "relay");
    const toggle = element("button", "switch");
    toggle.type = "button";
    toggle.setAttribute("role", "switch");
    relayData(toggle, host, board, n);
    const label = element("span", "relay-name");
    toggle.append(element("span", "knob"), label);
    const pulse = element("button", "pulse", "Pulse");
    pulse.type = "button";
    pulse.dataset.action = "pulse";
    relayData(pulse, host, board, n);
    row.append(toggle, pulse);
    return { row, toggle, label, pulse };
  }

  function newBoardView(board) {
    const root = element("section", "board");
    const heading = element("h3");
    const name = element("span", "board-name");
    const serial = element("span", "serial", board.serial);
    const state = element("span", "board-state");
    heading.append(name, serial, state);
    const error = element("p", "error");
    error.setAttribute("role", "alert");
    error.hidden = true;
    const relays = element("ul", "relays");
    root.append(heading, error, relays);
    return { root, name, state, error, relays, relayViews: [] };
  }

  function newHostView(host) {
    const root = element("article", "host");
    const heading = element("h2");
    const name = element("span", "host-name", host.id);
    const state = element("span", "host-state");
    heading.append(name, state);
    const error = element("p", "error");
    error.setAttribute("role", "alert");
    error.hidden = true;
    const boards = element("div", "boards");
    root.append(heading, error, boards);
    return { root, state, error, boards, boardViews: new Map() };
  }

  // Puts node at index among parent's children, moving it only when needed.
  function placeAt(parent, node, index) {
    const there = parent.children[index];
    if (there !== node) parent.insertBefore(node, there || null);
  }

  function drawError(node, error, now) {
    const shown = error && error.until > now;
    node.hidden = !shown;
    setText(node, shown ? error.text : "");
  }

  function drawBoard(view, host, board, now) {
    const offline = boardOffline(host, board);
    setText(view.name, board.name || "Board");
    setText(view.state, offline ? "offline" : "");
    view.root.classList.toggle("offline", offline);
    drawError(view.error, board.error, now);
    const count = relayCount(board);
    while (view.relayViews.length < count) {
      const relay = newRelayView(host, board, view.relayViews.length + 1);
      view.relayViews.push(relay);
      view.relays.append(relay.row);
    }
    while (view.relayViews.length > count) view.relayViews.pop().row.remove();
    view.relayViews.forEach((relay, index) => {
      const n = index + 1;
      setText(relay.label, relayName(board, n));
      setAttribute(relay.toggle, "aria-checked", relayChecked(board, n));
      setAttribute(relay.toggle, "aria-disabled", String(offline));
      setAttribute(relay.pulse, "aria-disabled", String(offline));
    });
  }

  function drawHost(view, host, now) {
    setText(view.state, host.status === "offline" ? "offline" : "");
    view.root.classList.toggle("offline", host.status === "offline");
    drawError(view.error, host.error, now);
    const boards = boardsInOrder(host);
    for (const [serial, boardView] of view.boardViews) {
      if (host.boards.has(serial)) continue;
      boardView.root.remove();
      view.boardViews.delete(serial);
    }
    boards.forEach((board, index) => {
      let boardView = view.boardViews.get(board.serial);
      if (!boardView) {
        boardView = newBoardView(board);
        view.boardViews.set(board.serial, boardView);
      }
      drawBoard(boardView, host, board, now);
      placeAt(view.boards, boardView.root, index);
    });
  }

  // Draws the model into container, a frame after the first change.
  class View {
    constructor(model, container, empty) {
      this.model = model;
      this.container = container;
      this.empty = empty;
      this.hostViews = new Map();
      this.changed = new Set();
      this.frame = 0;
    }

    changedHost(hostId) {
      this.changed.add(hostId);
      if (!this.frame) this.frame = requestAnimationFrame(() => this.draw());
    }

    draw() {
      this.frame = 0;
      const now = Date.now();
      let added = false;
      for (const hostId of this.changed) {
        const host = this.model.hosts.get(hostId);
        if (!host) continue;
        let view = this.hostViews.get(hostId);
        if (!view) {
          view = newHostView(host);
          this.hostViews.set(hostId, view);
          added = true;
        }
        drawHost(view, host, now);
      }
      this.changed.clear();
      if (added) {
        const ids = [...this.hostViews.keys()].sort();
        ids.forEach((id, index) => {
          const root = this.hostViews.get(id).root;
          placeAt(this.container, root, index);
        });
      }
      this.empty.hidden = this.hostViews.size > 0;
    }
  }

  dashboard.View = View;
})((window.rxb540Dashboard = window.rxb540Dashboard || {}));
