// What the bridges have published under the base topic: hosts, their boards
// and each board's relays. Payloads are kept as the text that arrived; the
// view inserts them as text only.

"use strict";

(function (dashboard) {
  const MAX_RELAYS = 8;
  const MAX_TEXT = 200;
  // How long an error from a bridge stays next to its board.
  const ERROR_SHOWN_MS = 6000;

  // A base topic as the bridges accept it: one or more levels, none empty, no
  // wildcard.
  function validBase(base) {
    return base.length > 0 && base.length <= 256 && !/[#+\u0000]/.test(base) && !base.split("/").includes("");
  }

  function newHost(id) {
    return { id, status: "", boardOrder: [], boards: new Map(), error: null };
  }

  function newBoard(serial) {
    return { serial, availability: "", name: "", relayCount: 0, relayNames: [], relays: new Map(), error: null };
  }

  function boardOf(host, serial) {
    let board = host.boards.get(serial);
    if (!board) {
      board = newBoard(serial);
      host.boards.set(serial, board);
    }
    return board;
  }

  function clip(text) {
    return typeof text === "string" ? text.slice(0, MAX_TEXT) : "";
  }

  function parseJson(text) {
    try {
      return JSON.parse(text);
    } catch {
      return null;
    }
  }

  function relayNumber(text) {
    if (!/^[1-8]$/.test(text)) return 0;
    return Number(text);
  }

  function applyInfo(board, text) {
    const info = parseJson(text);
    if (!info || typeof info !== "object") {
      board.name = "";
      board.relayCount = 0;
      board.relayNames = [];
      return;
    }
    board.name = clip(info.name);
    const count = Number.isInteger(info.relays) && info.relays >= 1 && info.relays <= MAX_RELAYS ? info.relays : 0;
    board.relayCount = count;
    board.relayNames = Array.isArray(info.relay_names) ? info.relay_names.slice(0, MAX_RELAYS).map(clip) : [];
  }

  function applyError(host, text, prefix, now) {
    const error = parseJson(text);
    if (!error || typeof error !== "object" || typeof error.error !== "string" || !error.error) return;
    const shown = { text: clip(error.error), until: now + ERROR_SHOWN_MS };
    // The error's topic names the board it concerns: <base>/<host>/<serial>/...
    const topic = typeof error.topic === "string" ? error.topic : "";
    const serial = topic.startsWith(prefix) ? topic.slice(prefix.length).split("/")[0] : "";
    const board = serial && host.boards.get(serial);
    if (board) board.error = shown;
    else host.error = shown;
  }

  // The model: hosts by id. apply() takes one message and returns the id of
  // the host it changed, or "" when it changed nothing.
  class Model {
    constructor(base) {
      this.base = base;
      this.hosts = new Map();
    }

    host(id) {
      let host = this.hosts.get(id);
      if (!host) {
        host = newHost(id);
        this.hosts.set(id, host);
      }
      return host;
    }

    apply(topic, text, now) {
      if (!topic.startsWith(this.base + "/")) return "";
      const levels = topic.slice(this.base.length + 1).split("/");
      const [hostId, second, third, fourth] = levels;
      if (!hostId || !second) return "";
      if (levels.length === 2) return this.applyHost(hostId, second, text, now) ? hostId : "";
      const relay = levels.length === 4 && third === "relay" ? relayNumber(fourth) : 0;
      if (!relay && !(levels.length === 3 && (third === "availability" || third === "info"))) return "";
      // An empty retained message clears a topic; a board whose topics are
      // all cleared (the bridge forgot it) is gone.
      const host = this.host(hostId);
      if (text === "" && !host.boards.has(second)) return "";
      const board = boardOf(host, second);
      if (relay && text === "") board.relays.delete(relay);
      else if (relay) board.relays.set(relay, text);
      else if (third === "availability") board.availability = clip(text);
      else applyInfo(board, text);
      if (!board.availability && !board.relays.size && !board.relayCount && !host.boardOrder.includes(second))
        host.boards.delete(second);
      return hostId;
    }

    applyHost(hostId, topic, text, now) {
      if (topic !== "status" && topic !== "boards" && topic !== "error") return false;
      const host = this.host(hostId);
      if (topic === "status") host.status = clip(text);
      else if (topic === "error") applyError(host, text, this.base + "/" + hostId + "/", now);
      else {
        const list = parseJson(text);
        host.boardOrder = Array.isArray(list) ? list.filter((s) => typeof s === "string" && s).map(clip) : [];
        for (const serial of host.boardOrder) boardOf(host, serial);
      }
      return true;
    }
  }

  // The boards of a host in the order to show them: its list first, then the
  // boards it no longer lists (unplugged, their topics still retained).
  function boardsInOrder(host) {
    const listed = host.boardOrder.filter((serial) => host.boards.has(serial));
    const rest = [...host.boards.keys()].filter((serial) => !listed.includes(serial)).sort();
    return [...listed, ...rest].map((serial) => host.boards.get(serial));
  }

  // The relays a board shows: as many as its info says, else those seen.
  function relayCount(board) {
    if (board.relayCount) return board.relayCount;
    let highest = 0;
    for (const n of board.relays.keys()) highest = Math.max(highest, n);
    return highest;
  }

  function relayName(board, n) {
    const name = board.relayNames[n - 1];
    return name ? name : "Relay " + n;
  }

  // "true", "false" or "mixed" (unknown) for aria-checked.
  function relayChecked(board, n) {
    const value = board.relays.get(n);
    if (value === "ON") return "true";
    if (value === "OFF") return "false";
    return "mixed";
  }

  function boardOffline(host, board) {
    return host.status === "offline" || board.availability === "offline";
  }

  dashboard.model = {
    ERROR_SHOWN_MS,
    Model,
    boardOffline,
    boardsInOrder,
    relayChecked,
    relayCount,
    relayName,
    validBase,
  };
})((window.rxb540Dashboard = window.rxb540Dashboard || {}));
