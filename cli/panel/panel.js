// The front panel of hsimctl serve: simulators, output function and
// parameters, live ECG, stream health, records and scenarios. Plain script,
// nothing fetched but from the server that served it.
"use strict";

(function () {
  // ---- Token and requests ---------------------------------------------------

  function pageToken() {
    const fromUrl = new URLSearchParams(location.search).get("token");
    if (fromUrl) return fromUrl;
    const meta = document.querySelector('meta[name="hsim-token"]');
    const content = meta ? meta.getAttribute("content") : "";
    return content && content !== "@HSIM_TOKEN@" ? content : "";
  }
  const token = pageToken();

  function withToken(path) {
    return path + (path.includes("?") ? "&" : "?") + "token=" + encodeURIComponent(token);
  }

  // Every request carries the token. The answer is {ok, status, data}; a
  // request that got no answer is status 0 with a reason, never an exception.
  async function request(method, path, body) {
    const init = { method, headers: { "X-Hsim-Token": token }, cache: "no-store" };
    if (body instanceof FormData) {
      init.body = body;
    } else if (body !== undefined) {
      init.headers["Content-Type"] = "application/json";
      init.body = JSON.stringify(body);
    }
    let response;
    try {
      response = await fetch(path, init);
    } catch (e) {
      return { ok: false, status: 0, data: { error: "the server did not answer" } };
    }
    let data = null;
    try {
      data = await response.json();
    } catch (e) {
      data = null;
    }
    if (!response.ok && !(data && typeof data.error === "string")) {
      const why = response.status === 413 ? "the upload is larger than the server takes"
                                          : "the server answered " + response.status;
      data = { error: why };
    }
    return { ok: response.ok, status: response.status, data };
  }
  const get = (path) => request("GET", path);
  const post = (path, body) => request("POST", path, body === undefined ? {} : body);

  // ---- Small helpers --------------------------------------------------------

  const $ = (id) => document.getElementById(id);

  function el(tag, attrs, ...children) {
    const node = document.createElement(tag);
    for (const [key, value] of Object.entries(attrs || {})) {
      if (value === undefined || value === null || value === false) continue;
      if (key === "text") node.textContent = value;
      else if (key === "className") node.className = value;
      else node.setAttribute(key, value === true ? "" : String(value));
    }
    for (const child of children) if (child) node.append(child);
    return node;
  }

  // A number as people read it: up to six significant digits, no exponent
  // for the ranges the device has.
  function formatNumber(value) {
    if (typeof value !== "number" || !isFinite(value)) return "";
    return String(Number(value.toPrecision(6)));
  }

  function decimals(value) {
    const text = String(value);
    const dot = text.indexOf(".");
    return dot < 0 ? 0 : text.length - dot - 1;
  }

  function say(text, isError) {
    const message = $("message");
    message.textContent = text || "";
    message.classList.toggle("error", !!isError);
  }

  // ---- What the page knows --------------------------------------------------

  const model = {
    panel: null,             // GET /api/panel
    parameters: new Map(),   // name -> description
    functions: new Map(),    // code -> name
    simulators: new Map(),   // id -> {info, state, lost}
    selected: null,          // the simulator the controls and the trace show
    scenario: null,
    lastFunction: new Map(), // id -> the function code the last state reported
  };

  function current() {
    return model.selected === null ? null : model.simulators.get(model.selected) || null;
  }

  function simulatorPath(id, what) {
    return "/api/simulators/" + id + "/" + what;
  }

  // ---- Parameter controls, made from the parameter table ---------------------

  // One entry per control: {param, channel (or null), input, shown}.
  const controls = [];

  function numberStep(param) {
    if (param.kind === "integer") return "1";
    const range = param.maximum - param.minimum;
    const byRange = range > 0 ? Math.max(0, 3 - Math.floor(Math.log10(range))) : 2;
    const places = Math.min(6, Math.max(byRange, decimals(param.minimum), decimals(param.maximum)));
    return places === 0 ? "1" : "0." + "0".repeat(places - 1) + "1";
  }

  function controlId(param, channel) {
    return "param-" + param.name + (channel === null ? "" : "-" + channel);
  }

  function makeInput(param, channel) {
    const id = controlId(param, channel);
    let input;
    if (param.kind === "choice") {
      input = el("select", { id });
      for (const choice of param.choices || [])
        input.append(el("option", { value: choice.value, text: choice.name }));
    } else if (param.kind === "bool") {
      input = el("input", { id, type: "checkbox" });
    } else {
      input = el("input", {
        id, type: "number", inputmode: "decimal",
        min: param.minimum, max: param.maximum, step: numberStep(param),
      });
    }
    input.dataset.param = param.name;
    if (channel !== null) input.dataset.channel = channel;
    const entry = { param, channel, input, shown: null, pending: false };
    controls.push(entry);
    input.addEventListener("change", () => apply(entry));
    input.addEventListener("keydown", (event) => {
      if (event.key === "Enter") {
        event.preventDefault();
        apply(entry);
      } else if (event.key === "Escape") {
        show(entry, entry.shown);
        setReason(param.name, "");
      }
    });
    return input;
  }

  function rangeText(param) {
    if (param.kind === "choice" || param.kind === "bool") return "";
    if (param.range) return param.range;  // the library's own wording
    const unit = param.unit ? " " + param.unit : "";
    return formatNumber(param.minimum) + "\u2026" + formatNumber(param.maximum) + unit;
  }

  function makeRow(param) {
    const row = el("div", { className: "param", id: "row-" + param.name });
    const reason = el("span", { id: "reason-" + param.name, className: "reason", role: "alert" });
    if (param.channels > 0) {
      row.classList.add("channels");
      const label = el("span", { className: "name", id: "label-" + param.name, text: param.name });
      const cells = el("span", { className: "cells", role: "group", "aria-labelledby": "label-" + param.name });
      for (let channel = 0; channel < param.channels; channel++) {
        const input = makeInput(param, channel);
        const label = el("label", { for: input.id, className: "channel" },
                         el("span", { className: "sr-only", text: param.name + " " }), "ch " + channel);
        cells.append(label, input);
      }
      row.append(label, cells);
    } else {
      const input = makeInput(param, null);
      row.append(el("label", { for: input.id, className: "name", text: param.name }), input);
    }
    row.append(el("span", { className: "unit", text: param.unit || "" }),
               el("span", { className: "range muted", text: rangeText(param), title: rangeText(param) || null }));
    if (!param.readable) row.append(el("span", { className: "muted small not-read", text: "(not read back)" }));
    row.append(reason);
    return row;
  }

  // One fieldset per group name (the server may split a group by function:
  // each row then shows for its own functions).
  function buildControls(panel) {
    const groupsBox = $("groups");
    groupsBox.textContent = "";
    controls.length = 0;
    const placed = new Set(["output-function"]);
    const groups = (panel.groups || []).slice();
    // A parameter no group names still gets a control.
    const rest = (panel.parameters || []).filter(
      (p) => p.name !== "output-function" && !groups.some((g) => (g.parameters || []).includes(p.name)));
    if (rest.length) groups.push({ name: "Other", parameters: rest.map((p) => p.name), functions: [] });
    const sets = new Map();
    for (const group of groups) {
      let set = sets.get(group.name);
      if (!set) {
        set = el("fieldset", { className: "group", id: "group-" + sets.size });
        set.append(el("legend", { text: group.name }));
        sets.set(group.name, set);
        groupsBox.append(set);
      }
      for (const name of group.parameters || []) {
        const param = model.parameters.get(name);
        if (!param || placed.has(name)) continue;
        placed.add(name);
        const row = makeRow(param);
        row.dataset.functions = JSON.stringify(group.functions || []);
        set.append(row);
      }
    }
    for (const set of sets.values()) if (!set.querySelector(".param")) set.remove();
  }

  // The rows that shape the selected function, and those for every function.
  function showGroupsFor(code) {
    for (const set of document.querySelectorAll("#groups fieldset")) {
      let any = false;
      for (const row of set.querySelectorAll(".param")) {
        const functions = JSON.parse(row.dataset.functions);
        row.hidden = !(functions.length === 0 || functions.includes(code));
        any = any || !row.hidden;
      }
      set.hidden = !any;
    }
  }

  function setReason(name, text) {
    const reason = $("reason-" + name);
    if (reason) reason.textContent = text || "";
    const row = $("row-" + name);
    if (row) row.classList.toggle("refused", !!text);
  }

  function readValue(entry, values) {
    if (!values || !(entry.param.name in values)) return undefined;
    const value = values[entry.param.name];
    if (entry.channel !== null) return Array.isArray(value) ? value[entry.channel] : value;
    return Array.isArray(value) ? value[0] : value;
  }

  function choiceValue(param, value) {
    if (typeof value === "string") {
      const choice = (param.choices || []).find((c) => c.name === value);
      return choice ? choice.value : null;
    }
    return value;
  }

  // Shows a value read back (null: the device does not read it back).
  function show(entry, value) {
    entry.shown = value === undefined ? null : value;
    const input = entry.input;
    if (value === null || value === undefined) {
      input.classList.add("unknown");
      if (input.type === "number") input.value = "";
      return;
    }
    input.classList.remove("unknown");
    if (entry.param.kind === "bool") input.checked = value === true || value === 1;
    else if (entry.param.kind === "choice") input.value = String(choiceValue(entry.param, value));
    else input.value = formatNumber(Number(value));
  }

  function typedValue(entry) {
    const input = entry.input;
    if (entry.param.kind === "bool") return input.checked;
    if (entry.param.kind === "choice") return Number(input.value);
    if (input.validity.badInput || input.value.trim() === "") return undefined;
    return Number(input.value);
  }

  function sameAsShown(entry, value) {
    const shown = entry.shown;
    if (shown === null || shown === undefined) return false;
    if (entry.param.kind === "bool") return value === (shown === true || shown === 1);
    if (entry.param.kind === "choice") return value === choiceValue(entry.param, shown);
    return formatNumber(value) === formatNumber(Number(shown));
  }

  async function apply(entry) {
    const sim = current();
    if (!sim || entry.pending) return;
    const name = entry.param.name;
    const value = typedValue(entry);
    if (value === undefined) {
      setReason(name, name + ": not a number");
      show(entry, entry.shown);
      return;
    }
    if (sameAsShown(entry, value)) {
      setReason(name, "");
      return;
    }
    const body = { name, value };
    if (entry.channel !== null) body.channel = entry.channel;
    entry.pending = true;
    entry.input.classList.add("pending");
    const answer = await post(simulatorPath(sim.id, "parameter"), body);
    entry.pending = false;
    entry.input.classList.remove("pending");
    if (answer.ok) {
      setReason(name, "");
      const read = answer.data ? answer.data.value : null;
      if (read === null || read === undefined) {
        entry.shown = value;  // accepted, and the device cannot tell it back
      } else {
        // A row without a channel set every channel: each shows its own.
        for (const other of controls)
          if (other.param.name === name && (entry.channel === null || other === entry))
            show(other, Array.isArray(read) ? read[other.channel === null ? 0 : other.channel] : read);
      }
      if (entry.param.selects_output) refreshState(sim.id);
    } else {
      setReason(name, answer.data.error);
      show(entry, entry.shown);
    }
  }

  // ---- Simulators, tabs and state -------------------------------------------

  function tabText(sim) {
    const s = sim.state;
    const connected = s ? s.connected : sim.info && sim.info.connected;
    const what = !connected ? "not connected" : s && s.playing ? "playing " + s.function.name : "connected";
    return { title: "Simulator " + sim.id, detail: what, connected: !!connected };
  }

  function renderTabs() {
    const nav = $("simulators");
    const ids = [...model.simulators.keys()].sort((a, b) => a - b);
    if (nav.children.length !== ids.length) {
      nav.textContent = "";
      for (const id of ids) {
        const tab = el("button", { type: "button", role: "tab", id: "tab-" + id, className: "tab" });
        tab.addEventListener("click", () => select(id));
        tab.addEventListener("keydown", (event) => {
          const at = ids.indexOf(id);
          if (event.key === "ArrowRight" || event.key === "ArrowLeft") {
            const next = ids[(at + (event.key === "ArrowRight" ? 1 : ids.length - 1)) % ids.length];
            select(next);
            $("tab-" + next).focus();
            event.preventDefault();
          }
        });
        nav.append(tab);
      }
    }
    for (const id of ids) {
      const sim = model.simulators.get(id);
      const tab = $("tab-" + id);
      const text = tabText(sim);
      const serial = (sim.state && sim.state.serial) || (sim.info && sim.info.serial) || "";
      tab.textContent = "";
      tab.append(el("span", { className: "dot " + (text.connected ? "on" : "off"), "aria-hidden": "true" }),
                 el("strong", { text: text.title }), " ", el("span", { className: "muted", text: serial }),
                 el("span", { className: "tab-state", text: text.detail }));
      tab.setAttribute("aria-selected", String(id === model.selected));
      tab.tabIndex = id === model.selected ? 0 : -1;
      tab.setAttribute("aria-controls", "panel");
    }
  }

  function select(id) {
    if (!model.simulators.has(id)) return;
    const changed = model.selected !== id;
    model.selected = id;
    if (changed) {
      for (const entry of controls) setReason(entry.param.name, "");
      const sim = current();
      if (sim.state && sim.state.function.code !== 0) $("function").value = String(sim.state.function.code);
      refreshState(id, true);  // the rows read from the device too
    }
    renderTabs();
    renderSelected(true);
  }

  // Everything shown for the selected simulator; values only where the user
  // is not typing (force: all of them).
  function renderSelected(force) {
    const sim = current();
    if (!sim) return;
    const s = sim.state;
    const picker = $("function");
    if (s) {
      const previous = model.lastFunction.get(sim.id);
      if (force || previous !== s.function.code) {
        // The device plays another function (Start, a scenario): the
        // selector follows it; otherwise, and when it stops, it keeps the
        // user's pick.
        if (s.function.code !== 0) picker.value = String(s.function.code);
        model.lastFunction.set(sim.id, s.function.code);
      }
      for (const entry of controls) {
        if (entry.pending || (!force && document.activeElement === entry.input)) continue;
        show(entry, readValue(entry, s.values));
      }
      const playing = $("playing");
      playing.textContent = s.playing ? "playing " + s.function.name : s.connected ? "stopped" : "not connected";
      playing.className = "badge " + (s.playing ? "good" : s.connected ? "" : "bad");
      const busy = $("busy");
      busy.hidden = !s.busy;
      busy.textContent = s.busy ? "Controls are locked: " + s.busy + "." : "";
      for (const node of document.querySelectorAll("#controls input, #controls select, #controls button, #record button"))
        node.disabled = !!s.busy || !s.connected;
      renderRecord(s.record);
    }
    showGroupsFor(Number(picker.value));
    renderHealth(sim);
  }

  function renderHealth(sim) {
    const s = sim.state;
    const h = (s && s.health) || {};
    const ms = (v) => (typeof v === "number" ? v.toFixed(2) + " ms" : "\u2013");
    const count = (v) => (typeof v === "number" ? String(v) : "\u2013");
    const info = sim.info || {};
    const rows = [
      ["Connection", s ? (s.connected ? "connected" : "not connected") : "\u2013", s && !s.connected ? "bad" : "good"],
      ["Serial number", (s && s.serial) || info.serial || "\u2013", "", "nowrap"],
      ["Identity", (s && s.identity) || info.identity || "\u2013", "", "wide"],
      ["Hardware", (s && s.hardware) || info.hardware || "\u2013"],
      ["Late answers", count(h.late_answers) + (typeof h.late_threshold_ms === "number"
                                                  ? " (over " + formatNumber(h.late_threshold_ms) + " ms)" : ""),
       h.late_answers > 0 ? "bad" : ""],
      ["Underruns", h.underruns === null ? "not reported" : count(h.underruns), h.underruns > 0 ? "bad" : ""],
      ["Latency p50 / p99 / max", ms(h.latency_p50_ms) + " / " + ms(h.latency_p99_ms) + " / " + ms(h.latency_max_ms),
       "", "wide nowrap"],
      ["Transfers", count(h.transfers)],
      ["Write failures", count(h.write_failures), h.write_failures > 0 ? "bad" : ""],
      ["Trace points lost", String(sim.lost || 0), sim.lost > 0 ? "bad" : ""],
    ];
    const box = $("health");
    box.textContent = "";
    for (const [term, value, tone, wide] of rows) {
      const item = el("div", { className: "item " + (wide || "") });
      item.append(el("dt", { text: term }), el("dd", { text: value, className: tone || "" }));
      box.append(item);
    }
  }

  function renderRecord(record) {
    const status = $("record-status");
    if (status.dataset.error) return;
    status.textContent = record
      ? "Loaded: " + record.name + ", " + record.samples + " samples of signal " + record.channel
      : "No record loaded.";
  }

  function takeState(simState) {
    let sim = model.simulators.get(simState.id);
    if (!sim) {
      sim = { id: simState.id, info: null, state: null, lost: 0 };
      model.simulators.set(simState.id, sim);
      loadSimulators();  // identity and hardware come from the list
    }
    sim.state = simState;
  }

  async function refreshState(id, force) {
    const answer = await get(simulatorPath(id, "state"));
    if (answer.ok) {
      takeState(answer.data);
      renderTabs();
      if (id === model.selected) renderSelected(!!force);
    }
  }

  async function loadSimulators() {
    const answer = await get("/api/simulators");
    if (!answer.ok) return say("Simulators: " + answer.data.error, true);
    for (const info of answer.data) {
      let sim = model.simulators.get(info.id);
      if (!sim) {
        sim = { id: info.id, info, state: null, lost: 0 };
        model.simulators.set(info.id, sim);
      }
      sim.info = info;
    }
    if (model.selected === null && answer.data.length) select(answer.data[0].id);
    else if (model.selected !== null) refreshState(model.selected, true);
    renderTabs();
    renderSelected(false);
  }

  // ---- Start and stop -------------------------------------------------------

  async function start() {
    const sim = current();
    if (!sim) return;
    const code = Number($("function").value);
    if (code === 0) return stop();
    const answer = await post(simulatorPath(sim.id, "start"), { function: code });
    afterOutputChange(sim, answer, "Start");
  }

  async function stop() {
    const sim = current();
    if (!sim) return;
    const answer = await post(simulatorPath(sim.id, "stop"));
    afterOutputChange(sim, answer, "Stop");
  }

  function afterOutputChange(sim, answer, what) {
    if (!answer.ok) return say(what + ": " + answer.data.error, true);
    say("");
    if (answer.data && answer.data.id !== undefined) {
      takeState(answer.data);
      renderTabs();
      renderSelected(true);
    }
  }

  // Picking shows the function's parameters; Start plays it (while another
  // plays too), so that arrowing through the list changes nothing.
  function functionPicked() {
    showGroupsFor(Number($("function").value));
  }

  // ---- Record ---------------------------------------------------------------

  async function loadRecord() {
    const sim = current();
    const files = $("record-file").files;
    const status = $("record-status");
    if (!sim) return;
    if (!files.length) {
      status.dataset.error = "1";
      status.textContent = "Choose the record's file or files first.";
      status.className = "error";
      return;
    }
    const form = new FormData();
    for (const file of files) form.append("file", file, file.name);
    form.append("channel", String(Number($("record-channel").value) || 0));
    status.textContent = "Loading\u2026";
    status.className = "";
    const answer = await post(simulatorPath(sim.id, "record"), form);
    if (answer.ok) {
      delete status.dataset.error;
      renderRecord(answer.data);
      refreshState(sim.id);
    } else {
      status.dataset.error = "1";
      status.textContent = answer.data.error;
      status.className = "error";
    }
  }

  async function playRecord() {
    const sim = current();
    if (!sim) return;
    const answer = await post(simulatorPath(sim.id, "play-record"), { loop: $("record-loop").checked });
    const status = $("record-status");
    if (answer.ok) {
      delete status.dataset.error;
      status.className = "";
    }
    afterOutputChange(sim, answer, "Play");
  }

  // ---- Scenario -------------------------------------------------------------

  async function runScenario() {
    // The scenario first, then the files its steps load.
    const files = [...$("scenario-file").files].sort(
      (a, b) => Number(!/\.ya?ml$/i.test(a.name)) - Number(!/\.ya?ml$/i.test(b.name)));
    if (!files.length) return showScenarioMessage("Choose a scenario file first.", true);
    const form = new FormData();
    for (const file of files) form.append("file", file, file.name);
    if ($("scenario-operator").value.trim()) form.append("operator", $("scenario-operator").value.trim());
    if ($("scenario-dut").value.trim()) form.append("dut", $("scenario-dut").value.trim());
    const answer = await post("/api/scenario", form);
    if (!answer.ok) return showScenarioMessage(answer.data.error, true);
    renderScenario(answer.data);
    const again = await get("/api/scenario");
    if (again.ok) renderScenario(again.data);
  }

  async function cancelScenario() {
    const answer = await post("/api/scenario/cancel");
    if (!answer.ok) return showScenarioMessage(answer.data.error, true);
    const again = await get("/api/scenario");
    if (again.ok) renderScenario(again.data);
  }

  function showScenarioMessage(text, isError) {
    const message = $("scenario-message");
    message.textContent = text || "";
    message.className = isError ? "error" : "";
  }

  function renderScenario(scenario) {
    if (!scenario || !scenario.state) return;
    model.scenario = scenario;
    const badge = $("scenario-state");
    badge.textContent = scenario.state + (scenario.name ? ": " + scenario.name : "");
    badge.className = "badge " + ({ passed: "good", running: "busy", failed: "bad", error: "bad",
                                    interrupted: "bad" }[scenario.state] || "");
    showScenarioMessage(scenario.message || "", scenario.state === "failed" || scenario.state === "error");
    $("scenario-run").disabled = scenario.state === "running";
    $("scenario-cancel").disabled = scenario.state !== "running";
    const list = $("scenario-steps");
    list.textContent = "";
    for (const step of scenario.steps || []) {
      const item = el("li", { className: "step " + step.status, id: "step-" + step.index });
      item.append(el("span", { className: "status", text: step.status }), " ",
                  el("span", { className: "kind", text: step.kind }), " ",
                  el("span", { text: step.name || "" }));
      if (step.error) item.append(el("div", { className: "error", text: step.error }));
      list.append(item);
    }
    const report = $("scenario-report");
    report.hidden = !scenario.report;
    $("report-json").href = withToken("/api/scenario/report.json");
    $("report-pdf").href = withToken("/api/scenario/report.pdf");
  }

  // ---- The live trace -------------------------------------------------------

  const PX_PER_MM = 96 / 25.4;  // CSS pixels in a CSS millimetre
  const TRACE_HEIGHT_MM = 50;   // +-2.5 mV around the baseline at 10 mm/mV
  const ERASE_GAP_S = 0.2;      // the blank ahead of the pen (5 mm at 25 mm/s)
  const PEN_DELAY_S = 0.12;     // the pen runs this far behind the newest point
  const KEEP_S = 30;            // points kept per simulator

  // Per simulator: the points received, in time order, and pacing marks.
  class TraceBuffer {
    constructor() {
      this.capacity = 1 << 15;
      this.t = new Float64Array(this.capacity);
      this.mv = new Float32Array(this.capacity);
      this.clear();
    }
    clear() {
      this.start = 0;
      this.count = 0;
      this.pacing = [];
      this.offset = null;  // the stream's time minus the page's clock, in s
      this.newest = -Infinity;
    }
    push(t, mv) {
      if (this.count === this.capacity) {
        this.start = (this.start + 1) % this.capacity;
        this.count--;
      }
      const at = (this.start + this.count) % this.capacity;
      this.t[at] = t;
      this.mv[at] = mv;
      this.count++;
    }
    at(i) {
      return (this.start + i) % this.capacity;
    }
    add(event, nowS) {
      if (event.restart || event.t + 1e-9 < this.newest - 1.0) this.clear();
      const step = 1 / (event.rate || 1000);
      for (let i = 0; i < event.mv.length; i++) this.push(event.t + i * step, event.mv[i]);
      for (const mark of event.pacing || []) this.pacing.push(mark);
      const end = event.t + (event.mv.length - 1) * step;
      this.newest = Math.max(this.newest, end);
      const offset = end - nowS;
      // Follow the stream's clock: at once when it runs ahead, slowly when
      // an event comes late (so a late event does not make the pen jump).
      if (this.offset === null || offset > this.offset || event.restart) this.offset = offset;
      else this.offset += (offset - this.offset) * 0.05;
      const oldest = this.newest - KEEP_S;
      while (this.pacing.length && this.pacing[0].t < oldest) this.pacing.shift();
    }
    pen(nowS) {
      if (this.offset === null) return null;
      return Math.min(this.newest, nowS + this.offset - PEN_DELAY_S);
    }
  }

  const trace = {
    canvas: null,
    ctx: null,
    grid: null,           // the paper, drawn once per size
    widthCss: 0,
    heightCss: 0,
    dpr: 1,
    points: 0,
    buffers: new Map(),   // simulator id -> TraceBuffer

    init() {
      this.canvas = $("trace");
      this.ctx = this.canvas.getContext("2d");
      new ResizeObserver(() => this.resize()).observe(this.canvas.parentElement);
      window.matchMedia("(resolution: " + window.devicePixelRatio + "dppx)")
        .addEventListener("change", () => this.resize());
      this.resize();
      // 30 frames a second are smooth at 25 mm/s (under 1 mm a frame) and
      // leave the machine to the stream when browser and simulator share it.
      let last = 0;
      const frame = (now) => {
        if (now - last >= 1000 / 30 - 2) {
          last = now;
          this.draw();
        }
        requestAnimationFrame(frame);
      };
      requestAnimationFrame(frame);
    },

    buffer(id) {
      let b = this.buffers.get(id);
      if (!b) {
        b = new TraceBuffer();
        this.buffers.set(id, b);
      }
      return b;
    },

    receive(event) {
      this.buffer(event.id).add(event, performance.now() / 1000);
      this.points += event.mv.length;
      this.canvas.dataset.points = String(this.points);
      const sim = model.simulators.get(event.id);
      if (sim && event.lost) sim.lost = (sim.lost || 0) + event.lost;
    },

    resize() {
      const box = this.canvas.parentElement;
      const widthCss = Math.max(100, Math.floor(box.clientWidth));
      const heightCss = TRACE_HEIGHT_MM * PX_PER_MM;
      this.dpr = window.devicePixelRatio || 1;
      this.widthCss = widthCss;
      this.heightCss = heightCss;
      this.canvas.style.width = widthCss + "px";
      this.canvas.style.height = heightCss + "px";
      this.canvas.width = Math.round(widthCss * this.dpr);
      this.canvas.height = Math.round(heightCss * this.dpr);
      this.grid = this.drawGrid();
    },

    // The paper: 1 mm minor and 5 mm major lines, from the top left corner.
    drawGrid() {
      const paper = document.createElement("canvas");
      paper.width = this.canvas.width;
      paper.height = this.canvas.height;
      const g = paper.getContext("2d");
      const scale = PX_PER_MM * this.dpr;  // device pixels per mm
      g.fillStyle = "#fffaf7";
      g.fillRect(0, 0, paper.width, paper.height);
      const line = (x0, y0, x1, y1) => {
        g.moveTo(x0, y0);
        g.lineTo(x1, y1);
      };
      for (const major of [false, true]) {
        g.beginPath();
        g.strokeStyle = major ? "#e8a0a0" : "#f6d6d6";
        g.lineWidth = major ? Math.max(1, Math.round(this.dpr)) : 1;
        const every = major ? 5 : 1;
        for (let mm = 0; mm * scale <= paper.width; mm += every) {
          const x = Math.round(mm * scale) + 0.5;
          if (!major && mm % 5 === 0) continue;
          line(x, 0, x, paper.height);
        }
        for (let mm = 0; mm * scale <= paper.height; mm += every) {
          const y = Math.round(mm * scale) + 0.5;
          if (!major && mm % 5 === 0) continue;
          line(0, y, paper.width, y);
        }
        g.stroke();
      }
      return paper;
    },

    draw() {
      const ctx = this.ctx;
      const sim = current();
      ctx.setTransform(1, 0, 0, 1, 0, 0);
      ctx.drawImage(this.grid, 0, 0);
      if (!sim) return;
      const b = this.buffers.get(sim.id);
      const playing = !!(sim.state && sim.state.playing);
      const nowS = performance.now() / 1000;
      const scale = PX_PER_MM * this.dpr;
      const mmPerS = (model.panel && model.panel.paper && model.panel.paper.mm_per_s) || 25;
      const mmPerMv = (model.panel && model.panel.paper && model.panel.paper.mm_per_mv) || 10;
      const sweepS = this.canvas.width / scale / mmPerS;  // one pass of the pen
      const baseY = this.canvas.height / 2;
      const xOf = (t) => ((((t % sweepS) + sweepS) % sweepS) / sweepS) * this.canvas.width;
      const yOf = (mv) => baseY - mv * mmPerMv * scale;

      // The pen stops at the newest point: a stopped output leaves the last
      // sweep standing.
      const pen = b ? b.pen(nowS) : null;
      if (!b || pen === null || b.count === 0) return;
      const from = pen - sweepS + ERASE_GAP_S;

      ctx.save();
      ctx.beginPath();
      ctx.rect(0, 0, this.canvas.width, this.canvas.height);
      ctx.clip();
      ctx.lineJoin = "round";
      ctx.lineWidth = 1.6 * this.dpr;
      ctx.strokeStyle = "#111";
      ctx.beginPath();
      let lastX = null;
      let lastT = null;
      const gapS = 1.5 / ((model.panel && model.panel.trace_rate) || 1000);
      for (let i = 0; i < b.count; i++) {
        const at = b.at(i);
        const t = b.t[at];
        if (t < from) continue;
        if (t > pen) break;
        const x = xOf(t);
        const y = yOf(b.mv[at]);
        // A new path where the sweep wraps or points are missing.
        if (lastX === null || x < lastX || t - lastT > gapS * 3) ctx.moveTo(x, y);
        else ctx.lineTo(x, y);
        lastX = x;
        lastT = t;
      }
      ctx.stroke();

      // Pacing: a mark above the trace and a thin line through it.
      ctx.lineWidth = Math.max(1, this.dpr);
      ctx.strokeStyle = "#1565c0";
      ctx.fillStyle = "#1565c0";
      for (const mark of b.pacing) {
        if (mark.t < from || mark.t > pen) continue;
        const x = Math.round(xOf(mark.t)) + 0.5;
        ctx.beginPath();
        ctx.moveTo(x, 2 * scale);
        ctx.lineTo(x, this.canvas.height - 2 * scale);
        ctx.globalAlpha = 0.35;
        ctx.stroke();
        ctx.globalAlpha = 1;
        ctx.beginPath();
        ctx.moveTo(x - 1.2 * scale, 0);
        ctx.lineTo(x + 1.2 * scale, 0);
        ctx.lineTo(x, 2 * scale);
        ctx.closePath();
        ctx.fill();
      }

      // The pen.
      if (playing) {
        const x = xOf(pen);
        let y = baseY;
        if (b.count) y = yOf(b.mv[b.at(b.count - 1)]);
        for (let i = b.count - 1; i >= 0; i--) {
          const at = b.at(i);
          if (b.t[at] <= pen) {
            y = yOf(b.mv[at]);
            break;
          }
        }
        ctx.fillStyle = "#c62828";
        ctx.beginPath();
        ctx.arc(x, y, 2.2 * this.dpr, 0, 2 * Math.PI);
        ctx.fill();
      }
      ctx.restore();
    },
  };

  // ---- The live events ------------------------------------------------------

  let source = null;
  let retryMs = 1000;

  function setStream(text, tone) {
    const stream = $("stream");
    stream.textContent = text;
    stream.className = "badge " + (tone || "");
  }

  function connectEvents() {
    if (source) source.close();
    source = new EventSource(withToken("/api/events"));
    source.addEventListener("open", () => {
      retryMs = 1000;
      setStream("live", "good");
    });
    source.addEventListener("state", (message) => {
      let data;
      try {
        data = JSON.parse(message.data);
      } catch (e) {
        return;
      }
      for (const simState of data.simulators || []) takeState(simState);
      if (model.selected === null && model.simulators.size)
        select(Math.min(...model.simulators.keys()));
      renderTabs();
      renderSelected(false);
      if (data.scenario) renderScenario(data.scenario);
    });
    source.addEventListener("trace", (message) => {
      try {
        trace.receive(JSON.parse(message.data));
      } catch (e) {
        /* a malformed event is dropped */
      }
    });
    source.addEventListener("error", () => {
      // The browser retries a dropped stream by itself; one the server
      // refused or closed for good is opened again here, later each time.
      if (source.readyState === EventSource.CLOSED) {
        setStream("reconnecting\u2026", "bad");
        setTimeout(connectEvents, retryMs);
        retryMs = Math.min(retryMs * 2, 15000);
      } else {
        setStream("reconnecting\u2026", "bad");
      }
    });
  }

  // ---- Keyboard -------------------------------------------------------------

  function typing(target) {
    return target && (target.isContentEditable || ["INPUT", "SELECT", "TEXTAREA"].includes(target.tagName));
  }

  document.addEventListener("keydown", (event) => {
    if (event.ctrlKey || event.metaKey || event.altKey || typing(event.target)) return;
    const sim = current();
    if (event.key === "s") {
      event.preventDefault();
      if (sim && sim.state && sim.state.playing) stop();
      else start();
    } else if (event.key === "f") {
      event.preventDefault();
      $("function").focus();
    } else if (/^[1-9]$/.test(event.key)) {
      const ids = [...model.simulators.keys()].sort((a, b) => a - b);
      const id = ids[Number(event.key) - 1];
      if (id !== undefined) {
        event.preventDefault();
        select(id);
      }
    }
  });

  // ---- Start ----------------------------------------------------------------

  async function main() {
    trace.init();
    $("start").addEventListener("click", start);
    $("stop").addEventListener("click", stop);
    $("function").addEventListener("change", functionPicked);
    $("record-load").addEventListener("click", loadRecord);
    $("record-play").addEventListener("click", playRecord);
    $("scenario-run").addEventListener("click", runScenario);
    $("scenario-cancel").addEventListener("click", cancelScenario);
    $("scenario-cancel").disabled = true;

    const answer = await get("/api/panel");
    if (!answer.ok) {
      say("The panel could not load its description: " + answer.data.error, true);
      return;
    }
    const panel = answer.data;
    model.panel = panel;
    $("version").textContent = panel.version + (panel.emulator ? " \u00b7 emulator" : "");
    if (panel.paper)
      $("trace-scale").textContent = panel.paper.mm_per_s + " mm/s \u00b7 " + panel.paper.mm_per_mv +
                                     " mm/mV \u00b7 1 mm minor and 5 mm major grid";
    for (const param of panel.parameters || []) model.parameters.set(param.name, param);
    const picker = $("function");
    for (const f of panel.functions || []) {
      model.functions.set(f.code, f.name);
      picker.append(el("option", { value: f.code, text: f.name }));
    }
    // Until the device plays something, Start plays the ECG.
    const first = (panel.functions || []).find((f) => f.name === "ecg") ||
                  (panel.functions || []).find((f) => f.code !== 0);
    if (first) picker.value = String(first.code);
    buildControls(panel);
    showGroupsFor(Number(picker.value));
    await loadSimulators();
    const scenario = await get("/api/scenario");
    if (scenario.ok) renderScenario(scenario.data);
    connectEvents();
  }

  main();
})();
