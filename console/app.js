// The print service's console: signs in with the service token, shows the
// printers live from the event stream, runs commands, edits non-fiscal
// receipts and keeps the job journal. The token lives in this tab's session
// storage only and goes in the Authorization header, never in a URL. The
// commands, their forms and their labels come from the service's API
// document, read at start.
import { commands, editorCommand, fetchDocument, findCommand, loadCatalogue } from "./commands.js";
import { DETECT_COMMAND, describeSpeed, detectionLines, isDetection } from "./detection.js";
import { element } from "./dom.js";
import { formatFields } from "./fields.js";
import { buildForm } from "./form.js";
import { currentLocale, labelOf, language, setLanguage, showLabel, t } from "./i18n.js";
import { layoutReceipt } from "./markup.js";

const TOKEN_KEY = "zuv-token";
const LANG_KEY = "zuv-lang";
const LAST_JOB_KEY = "zuv-last-job";   // the job "Last result" shows, across a reload
const WAIT_MS = 30000;          // how long a command waits for its job to finish
const JOURNAL_LIMIT = 100;
const RECONNECT_MS = 2000;      // pause before the event stream is opened again
const SEND_ATTEMPTS = 3;        // a command whose answer never came is asked again, same key
const RESEND_MS = 1000;
const IDEMPOTENCY_HEADER = "Idempotency-Key";
const SETTLED_STATES = new Set(["done", "failed", "in-doubt", "not-done"]);
// Error codes the driver sets itself (printer codes are positive).
const NO_ANSWER = -1;
const REFUSED = -2;
const PORT_FAULT = -5;
// A printer whose last job ended on one of these did not answer.
const NO_ANSWER_KINDS = new Set(["port", "link"]);

const $ = (id) => document.getElementById(id);
const ui = {
  printers: new Map(),   // id -> printer object
  jobs: new Map(),       // id -> job object, the journal rows shown
  events: null,          // AbortController of the event stream
  lastJob: null,         // the job whose outcome "Last result" shows
  lastMessage: null,     // or a message: {text, kind}
  openJob: null,         // the job shown in the details dialog
  pending: new Set(),    // actions whose request is on its way: "printer/command", "editor", "resolve"
  stream: "connecting",  // the event stream: "connecting", "live" or "down"
  fetchFailed: false,    // the last request found no service
  catalogue: null,       // a promise of the commands, from the API document
  readForm: null,        // reads the command form's body, or null when it is bad
  editor: null,          // the editor's command and its lines and width fields
};

class ApiError extends Error {
  constructor(status, body) {
    super("HTTP " + status);
    this.status = status;   // 0: the service could not be reached
    this.body = body;
  }
}

function token() { return sessionStorage.getItem(TOKEN_KEY) || ""; }
function authHeaders() { return { Authorization: "Bearer " + token() }; }

async function api(method, path, body, headers) {
  const options = { method, headers: { ...authHeaders(), ...headers }, cache: "no-store" };
  if (body !== undefined) {
    options.headers["Content-Type"] = "application/json";
    options.body = JSON.stringify(body);
  }
  let response;
  try {
    response = await fetch(path, options);
  } catch (err) {
    setFetchFailed(true);
    throw new ApiError(0, null);
  }
  setFetchFailed(false);
  let data = null;
  try { data = await response.json(); } catch (err) { data = null; }
  if (!response.ok) throw new ApiError(response.status, data);
  return { status: response.status, data };
}

// One key per user action: a request sent again, by the browser or below,
// names the same job, which the service runs once.
function newIdempotencyKey() {
  if (crypto.randomUUID) return crypto.randomUUID();
  // Outside a secure context (http:// from another host) there is no randomUUID.
  const bytes = crypto.getRandomValues(new Uint8Array(16));
  bytes[6] = (bytes[6] & 0x0f) | 0x40;
  bytes[8] = (bytes[8] & 0x3f) | 0x80;
  const hex = [...bytes].map((b) => b.toString(16).padStart(2, "0")).join("");
  return [hex.slice(0, 8), hex.slice(8, 12), hex.slice(12, 16), hex.slice(16, 20), hex.slice(20)].join("-");
}

// A command whose answer was lost on the way is asked for again with its
// key: the service answers with the job the first request made.
async function sendCommand(path, body, key) {
  for (let attempt = 1; ; ++attempt) {
    try {
      return await api("POST", path, body, { [IDEMPOTENCY_HEADER]: key });
    } catch (err) {
      if (!(err instanceof ApiError) || err.status !== 0 || attempt >= SEND_ATTEMPTS) throw err;
      await pause(RESEND_MS);
    }
  }
}

// Runs `work` unless the action `key` is under way already; its buttons say
// busy meanwhile and ignore clicks, staying focusable so a keyboard user
// keeps their place.
async function guarded(key, work) {
  if (ui.pending.has(key)) return;
  ui.pending.add(key);
  markBusy(key);
  try {
    await work();
  } finally {
    ui.pending.delete(key);
    markBusy(key);
  }
}

function markBusy(key) {
  for (const button of document.querySelectorAll(`button[data-pending="${CSS.escape(key)}"]`)) {
    if (ui.pending.has(key)) button.setAttribute("aria-busy", "true");
    else button.removeAttribute("aria-busy");
  }
}

// ---- words a technician understands ----

function describeJobError(error) {
  if (!error) return "";
  if (typeof error === "string") return error;
  switch (error.code) {
    case NO_ANSWER: return t("err_noAnswer");
    case REFUSED: return t("err_refused");
    case PORT_FAULT: return t("err_port");
  }
  if (Number.isInteger(error.code) && error.code > 0)
    return t("err_printer", { code: error.code, message: error.message || "" });
  return error.message || JSON.stringify(error);
}

function describeApiError(err) {
  if (!(err instanceof ApiError)) return String((err && err.message) || err);
  if (err.status === 0) return t("err_unreachable");
  if (err.status === 401) return t("err_token");
  const error = err.body && err.body.error;
  if (err.status === 400 && error && error.kind === "input")
    return t("err_input", { field: error.field || "", message: error.message || "" });
  if (err.status === 409 && ui.openJob) return t("err_conflict");
  if (error && error.message) return error.message;
  return t("err_unknown", { status: err.status });
}

// A 401 after signing in means the token was changed under us.
function failed(err, show) {
  if (err instanceof ApiError && err.status === 401) signOut(t("err_token"));
  else show(describeApiError(err));
}

// ---- signing in ----

async function signIn(value) {
  sessionStorage.setItem(TOKEN_KEY, value);
  let printers;
  try {
    await loadCommands();
    printers = listOf((await api("GET", "/v1/printers")).data, "printers");
  } catch (err) {
    sessionStorage.removeItem(TOKEN_KEY);
    $("sign-in-error").textContent = describeApiError(err);
    $("token").select();  // typing again replaces the wrong token
    return;
  }
  $("sign-in-error").textContent = "";
  $("token").value = "";
  $("sign-in").hidden = true;
  $("console").hidden = false;
  $("sign-out").hidden = false;
  setPrinters(printers);
  refreshJournal();
  restoreLastResult();
  followEvents();
  const first = document.querySelector("#printers button");
  (first || $("editor-text")).focus();
}

function signOut(message) {
  sessionStorage.removeItem(TOKEN_KEY);
  sessionStorage.removeItem(LAST_JOB_KEY);
  if (ui.events) ui.events.abort();
  ui.events = null;
  ui.jobs.clear();
  ui.lastJob = null;
  ui.lastMessage = null;
  ui.stream = "connecting";
  ui.fetchFailed = false;
  for (const dialog of document.querySelectorAll("dialog[open]")) dialog.close();
  $("console").hidden = true;
  $("sign-out").hidden = true;
  $("sign-in").hidden = false;
  $("sign-in-error").textContent = message || "";
  showConnection();
  $("token").focus();
}

// The service answers lists either bare or wrapped in an object.
function listOf(data, name) {
  if (Array.isArray(data)) return data;
  return (data && Array.isArray(data[name])) ? data[name] : [];
}

// ---- printers ----

function setPrinters(printers) {
  ui.printers = new Map(printers.map((p) => [p.id, p]));
  renderPrinters();
}

// ---- the commands, from the API document ----

// Read once; a failed read (no service yet) is tried again at the next sign-in.
function loadCommands() {
  if (!ui.catalogue) {
    ui.catalogue = fetchDocument().then((doc) => {
      loadCatalogue(doc);
      setUpCommandForm();
      setUpEditor();
    }).catch((err) => {
      ui.catalogue = null;
      throw err instanceof ApiError ? err : new ApiError(0, null);
    });
  }
  return ui.catalogue;
}

// A printer's card has a button for each command that takes no arguments,
// and detection; the others have the command form.
function cardCommands() {
  return [...commands().filter((c) => !c.args).map((c) => c.name), DETECT_COMMAND];
}

function setUpCommandForm() {
  const select = $("command-name");
  const chosen = select.value;
  select.replaceChildren(...commands().filter((c) => c.args)
    .map((c) => showLabel(new Option("", c.name), c.labels)));
  if ([...select.options].some((o) => o.value === chosen)) select.value = chosen;
  showCommandForm();
}

function showCommandForm() {
  const command = findCommand($("command-name").value);
  if (!command) return;
  ui.readForm = buildForm($("command-fields"), command.args, "arg-");
  showCommandHelp();
}

// The form's labels follow the language by themselves; the help line is said again.
function showCommandHelp() {
  const command = findCommand($("command-name").value);
  if (!command) return;
  const help = $("command-help");
  help.replaceChildren(command.help, " · ", t("effect") + ": ", t("effect_" + command.effect));
  $("command-run").className = command.confirm ? "danger" : "";
}

function submitCommandForm(event) {
  event.preventDefault();
  if (ui.pending.has("form") || !ui.readForm) return;
  const printer = $("command-printer").value;
  const body = ui.readForm();
  if (!printer || !body) return;
  askAndRun(printer, $("command-name").value, body, "form");
}

// ---- printers ----

function renderPrinters() {
  const box = $("printers");
  const focus = focusedPrinterButton();
  box.replaceChildren(...[...ui.printers.values()].map(printerCard));
  restorePrinterButton(focus);
  $("no-printers").hidden = ui.printers.size > 0;
  fillPrinterSelect($("editor-printer"), false);
  fillPrinterSelect($("command-printer"), false);
  fillPrinterSelect($("filter-printer"), true);
}

function fillPrinterSelect(select, withAll) {
  const chosen = select.value;
  const options = [];
  if (withAll) options.push(new Option(t("all"), ""));
  for (const id of ui.printers.keys()) options.push(new Option(id, id));
  select.replaceChildren(...options);
  if ([...select.options].some((o) => o.value === chosen)) select.value = chosen;
}

function printerCard(printer) {
  const card = element("article", "printer");
  card.dataset.printer = printer.id;
  card.setAttribute("aria-label", printer.id);
  const head = element("h3", "", printer.id + " ");
  const state = badgeState(printer);
  const badge = element("span", "badge printer-" + state, t("printer_" + state));
  badge.dataset.role = "printer-state";
  badge.dataset.state = state;
  head.append(badge);
  const facts = element("dl", "facts");
  addFact(facts, t("port"), printer.port);
  if (printer.baud !== undefined) addFact(facts, t("speed"), describeSpeed(printer.baud));
  addFact(facts, t("queue"), String(printer.queue ?? printer.queue_length ?? 0));
  if (printer.last_error) addFact(facts, t("lastError"), describeJobError(printer.last_error));
  const buttons = element("div", "buttons");
  for (const command of cardCommands()) buttons.append(commandButton(printer.id, command));
  card.append(head, facts, buttons);
  return card;
}

// What the badge says: "ready" only for a printer that answered last time,
// and nothing known while the service is out of reach.
function badgeState(printer) {
  if (!serviceReachable()) return "unknown";
  const error = printer.last_error;
  if (printer.state === "idle" && error && NO_ANSWER_KINDS.has(error.kind)) return "noAnswer";
  return printer.state;
}

function commandButton(printer, command) {
  const info = findCommand(command);
  // Detection works on the port, not the paper.
  const style = info ? (info.confirm ? "danger" : "") : "secondary";
  const button = element("button", style, commandName(command));
  button.type = "button";
  button.dataset.command = command;
  if (info) {
    button.title = info.help;
    button.dataset.effect = info.effect;
  }
  const key = pendingKey(printer, command);
  button.dataset.pending = key;
  if (ui.pending.has(key)) button.setAttribute("aria-busy", "true");
  button.addEventListener("click", () => {
    if (!ui.pending.has(key)) askAndRun(printer, command, {}, key);
  });
  return button;
}

function pendingKey(printer, command) { return printer + "/" + command; }

function addFact(list, name, value) {
  list.append(element("dt", "", name), element("dd", "", value));
}

// Cards are rebuilt on every change: a keyboard user keeps the button.
function focusedPrinterButton() {
  const button = document.activeElement;
  const card = button && button.closest && button.closest("[data-printer]");
  return card && button.dataset.command ? { printer: card.dataset.printer, command: button.dataset.command } : null;
}

function restorePrinterButton(focus) {
  if (!focus) return;
  const card = document.querySelector(`#printers [data-printer="${CSS.escape(focus.printer)}"]`);
  const button = card && card.querySelector(`[data-command="${focus.command}"]`);
  if (button) button.focus();
}

function updatePrinter(printer) {
  ui.printers.set(printer.id, { ...ui.printers.get(printer.id), ...printer });
  const old = document.querySelector(`#printers [data-printer="${CSS.escape(printer.id)}"]`);
  if (!old) return renderPrinters();
  const focus = focusedPrinterButton();
  old.replaceWith(printerCard(ui.printers.get(printer.id)));
  restorePrinterButton(focus);
}

// ---- running commands ----

// A command the document says to confirm runs only after "Run" in the dialog.
function askAndRun(printer, command, args, pending) {
  const info = findCommand(command);
  if (!info || !info.confirm) return runCommand(pending, printer, command, args);
  const dialog = $("confirm");
  const name = commandName(command);
  $("confirm-title").textContent = name;
  $("confirm-text").textContent = t("confirmQuestion", { command: name, printer });
  // The row's own question is in English only.
  $("confirm-question").textContent = language() === "en" ? info.question : "";
  $("confirm-run").textContent = name;
  dialog.returnValue = "";
  dialog.onclose = () => {
    if (dialog.returnValue === "run") runCommand(pending, printer, command, args);
  };
  dialog.showModal();
  $("confirm-cancel").focus();
}

// One click, one job: the action `pending` is busy until its answer came.
function runCommand(pending, printer, command, args) {
  return guarded(pending, async () => {
    setLastJob(null);
    showMessage(runningText(printer, command), "pending");
    const key = newIdempotencyKey();
    try {
      const path = `/v1/printers/${encodeURIComponent(printer)}/${command}?wait=${WAIT_MS}`;
      const job = (await sendCommand(path, args, key)).data;
      noteJob(job);
      setLastJob(job);
      renderLastResult();
    } catch (err) {
      failed(err, (text) => showMessage(text, "error"));
    }
  });
}

function setLastJob(job) {
  ui.lastJob = job;
  if (job) sessionStorage.setItem(LAST_JOB_KEY, String(job.id));
  else sessionStorage.removeItem(LAST_JOB_KEY);
}

// After a reload "Last result" shows this tab's last job again, as the
// journal has it now; a tab without one shows the newest job.
async function restoreLastResult() {
  const id = sessionStorage.getItem(LAST_JOB_KEY);
  let job = null;
  try {
    if (id) job = (await api("GET", "/v1/jobs/" + encodeURIComponent(id))).data;
    else job = listOf((await api("GET", "/v1/jobs?limit=1")).data, "jobs")[0] || null;
  } catch (err) {
    if (err instanceof ApiError && err.status === 401) return signOut(t("err_token"));
  }
  // A command started meanwhile has the say.
  if (!job || ui.lastJob || ui.lastMessage) return;
  setLastJob(job);
  renderLastResult();
}

// A command may say more while it runs (detection takes the port a while).
function runningText(printer, command) {
  const key = "running_" + command;
  const text = t(key, { printer });
  return text === key ? t("running", { command: commandName(command), printer }) : text;
}

// The document's label of a command (detection's is the console's own), or
// the command itself when it has none.
function commandName(command) {
  const info = findCommand(command);
  if (info) return labelOf(info.labels) || command;
  const key = "cmd_" + command;
  const name = t(key);
  return name === key ? command : name;
}

// A job's command's schemas: "args", "result" or "counter", or null.
function schemaOf(job, part) {
  const info = findCommand(job.command);
  return info ? info[part] : null;
}

function showMessage(text, kind) {
  ui.lastMessage = { text, kind };
  renderLastResult();
}

function renderLastResult() {
  const box = $("last-result");
  const job = ui.lastJob;
  box.dataset.job = job ? String(job.id) : "";
  if (!job) {
    const message = ui.lastMessage;
    box.className = "result " + (message ? message.kind : "");
    box.replaceChildren(message ? message.text : "");
    return;
  }
  const names = { command: commandName(job.command), printer: job.printer, id: job.id };
  box.className = "result state-" + job.state;
  if (!SETTLED_STATES.has(job.state)) {
    box.replaceChildren(t("stillRunning", names));
    return;
  }
  const lines = [element("p", "", t("jobEnded", { ...names, state: t("state_" + job.state) }))];
  const detection = isDetection(job) ? detectionLines(job) : [];
  // In doubt, the printer did take the request: "did not answer" would mislead.
  if (job.state === "in-doubt") lines.push(element("p", "", t("inDoubtHint")));
  else if (job.settled_by) lines.push(...settlementLines(job));
  else if (detection.length) lines.push(...detection);
  else if (job.error) lines.push(element("p", "error", describeJobError(job.error)));
  if (!detection.length && hasFields(job.result))
    lines.push(element("pre", "", formatFields(job.result, schemaOf(job, "result"))));
  box.replaceChildren(...lines);
}

function hasFields(value) {
  return Boolean(value) && typeof value === "object" && Object.keys(value).length > 0;
}

// A settled job's outcome is the settlement's: the error that left it in
// doubt is not its end.
function settlementLines(job) {
  const lines = [element("p", "", t("settledAs",
    { by: t("settled_" + job.settled_by), state: t("state_" + job.state) }))];
  const note = job.settlement && job.settlement.note;
  if (note) lines.push(element("p", "", t("note") + ": " + note));
  return lines;
}

// ---- the event stream ----

async function followEvents() {
  if (ui.events) ui.events.abort();
  const controller = new AbortController();
  ui.events = controller;
  while (!controller.signal.aborted) {
    try {
      await readEvents(controller.signal);
    } catch (err) {
      if (err instanceof ApiError && err.status === 401) return signOut(t("err_token"));
    }
    if (controller.signal.aborted) return;
    setStream("down");
    await pause(RECONNECT_MS, controller.signal);
  }
}

async function readEvents(signal) {
  const response = await fetch("/v1/events", { headers: authHeaders(), signal, cache: "no-store" });
  if (!response.ok || !response.body) throw new ApiError(response.status, null);
  setFetchFailed(false);
  setStream("live");
  // Whatever changed while the stream was down.
  refreshPrinters();
  refreshJournal();
  const reader = response.body.pipeThrough(new TextDecoderStream()).getReader();
  let buffer = "";
  for (;;) {
    const { value, done } = await reader.read();
    if (done) return;
    buffer = (buffer + value).replace(/\r\n/g, "\n");
    let end;
    while ((end = buffer.indexOf("\n\n")) >= 0) {
      handleEvent(parseEvent(buffer.slice(0, end)));
      buffer = buffer.slice(end + 2);
    }
  }
}

// One event block: "event:" names it, "data:" lines carry the JSON.
function parseEvent(block) {
  let name = "message";
  const data = [];
  for (const line of block.split("\n")) {
    if (line === "" || line.startsWith(":")) continue;
    const colon = line.indexOf(":");
    const field = colon < 0 ? line : line.slice(0, colon);
    let value = colon < 0 ? "" : line.slice(colon + 1);
    if (value.startsWith(" ")) value = value.slice(1);
    if (field === "event") name = value;
    else if (field === "data") data.push(value);
  }
  return { name, data: data.join("\n") };
}

function handleEvent(event) {
  if (!event.data) return;
  let object;
  try { object = JSON.parse(event.data); } catch (err) { return; }
  if (event.name === "printer") updatePrinter(object);
  else if (event.name === "job") noteJob(object);
}

function pause(ms, signal) {
  return new Promise((resolve) => {
    const timer = setTimeout(resolve, ms);
    if (signal) signal.addEventListener("abort", () => { clearTimeout(timer); resolve(); }, { once: true });
  });
}

// ---- the connection to the service ----

function serviceReachable() { return ui.stream !== "down" && !ui.fetchFailed; }

function setStream(state) {
  if (ui.stream === state) return;
  ui.stream = state;
  showConnection();
}

function setFetchFailed(failedNow) {
  if (ui.fetchFailed === failedNow) return;
  ui.fetchFailed = failedNow;
  showConnection();
}

// The header's dot, the banner across the top and the printers' badges.
function showConnection() {
  const signedIn = Boolean(ui.events);
  setLink(signedIn && ui.stream !== "connecting" ? ui.stream === "live" : null);
  $("connection-lost").hidden = !signedIn || serviceReachable();
  renderPrinters();
}

function setLink(live) {
  const el = $("link-state");
  el.textContent = live === null ? "" : t(live ? "live" : "reconnecting");
  el.className = "link " + (live ? "live" : "down");
  el.dataset.live = live ? "1" : "0";
}

async function refreshPrinters() {
  try {
    setPrinters(listOf((await api("GET", "/v1/printers")).data, "printers"));
  } catch (err) {
    failed(err, showNotice);
  }
}

function showNotice(text) {
  $("notice").textContent = text;
  $("notice").hidden = !text;
}

// ---- the journal ----

function journalFilters() {
  return { printer: $("filter-printer").value, state: $("filter-state").value };
}

async function refreshJournal() {
  const { printer, state } = journalFilters();
  const query = new URLSearchParams({ limit: String(JOURNAL_LIMIT) });
  if (printer) query.set("printer", printer);
  if (state) query.set("state", state);
  try {
    const jobs = listOf((await api("GET", "/v1/jobs?" + query)).data, "jobs");
    ui.jobs = new Map(jobs.map((job) => [job.id, job]));
    showNotice("");
    renderJournal();
  } catch (err) {
    failed(err, showNotice);
  }
}

// A job changed: the journal, the last result and an open dialog follow it.
function noteJob(job) {
  const { printer, state } = journalFilters();
  const shown = (!printer || job.printer === printer) && (!state || job.state === state);
  if (shown) ui.jobs.set(job.id, job);
  else ui.jobs.delete(job.id);
  renderJournal();
  if (ui.lastJob && ui.lastJob.id === job.id) {
    ui.lastJob = job;
    renderLastResult();
  }
  if (ui.openJob && ui.openJob.id === job.id) showJob(job);
}

function renderJournal() {
  const jobs = [...ui.jobs.values()].sort((a, b) => b.id - a.id).slice(0, JOURNAL_LIMIT);
  const focused = document.activeElement && document.activeElement.dataset.job;
  $("jobs").tBodies[0].replaceChildren(...jobs.map(jobRow));
  $("no-jobs").hidden = jobs.length > 0;
  if (focused) {
    const button = document.querySelector(`#jobs button[data-job="${CSS.escape(focused)}"]`);
    if (button) button.focus();
  }
}

function jobRow(job) {
  const row = element("tr", "state-" + job.state);
  row.dataset.jobId = String(job.id);
  const state = element("td", "");
  state.append(element("span", "badge state-" + job.state,
    (job.state === "in-doubt" ? "⚠ " : "") + t("state_" + job.state)));
  if (job.settled_by) state.append(" (" + t("settled_" + job.settled_by) + ")");
  const details = element("button", "link-button", t("details"));
  details.type = "button";
  details.dataset.job = String(job.id);
  details.setAttribute("aria-label", t("details") + " " + t("job", { id: job.id }));
  details.addEventListener("click", () => openJob(job.id));
  const cell = element("td", "");
  cell.append(details);
  row.append(element("td", "", String(job.id)), element("td", "", job.printer),
    element("td", "", commandName(job.command)), state, element("td", "", shortTime(job.created)), cell);
  return row;
}

function shortTime(iso) {
  if (!iso) return "";
  const date = new Date(iso);
  return isNaN(date) ? iso : date.toLocaleString(currentLocale());
}

async function openJob(id) {
  let job = ui.jobs.get(id);
  try {
    job = (await api("GET", "/v1/jobs/" + encodeURIComponent(id))).data;
  } catch (err) {
    if (!job) return failed(err, showNotice);
  }
  showJob(job);
  const dialog = $("job-dialog");
  if (!dialog.open) {
    $("resolve-error").textContent = "";
    $("resolve-form").reset();
    dialog.showModal();
    const first = dialog.querySelector("#resolve-form:not([hidden]) input") || $("job-close");
    first.focus();
  }
}

function showJob(job) {
  ui.openJob = job;
  $("job-title").textContent = t("job", { id: job.id }) + " · " + commandName(job.command);
  const fields = $("job-fields");
  fields.replaceChildren();
  addFact(fields, t("printer"), job.printer);
  addFact(fields, t("state"), t("state_" + job.state));
  addFact(fields, t("created"), shortTime(job.created));
  if (job.started) addFact(fields, t("started"), shortTime(job.started));
  if (job.finished) addFact(fields, t("finished"), shortTime(job.finished));
  if (hasFields(job.args)) addBlock(fields, t("args"), formatFields(job.args, schemaOf(job, "args")));
  const detection = isDetection(job) ? detectionLines(job) : [];
  if (detection.length) addElements(fields, t("result"), detection);
  else if (hasFields(job.result)) addBlock(fields, t("result"), formatFields(job.result, schemaOf(job, "result")));
  if (job.state === "in-doubt") addFact(fields, "⚠", t("inDoubtHint"));
  else if (job.error && !detection.length && !job.settled_by) addFact(fields, t("error"), describeJobError(job.error));
  addSettlement(fields, job);
  $("resolve-form").hidden = job.state !== "in-doubt";
}

function addBlock(list, name, text) {
  addElements(list, name, [element("pre", "", text)]);
}

function addElements(list, name, children) {
  const value = element("dd", "");
  value.append(...children);
  list.append(element("dt", "", name), value);
}

function addSettlement(fields, job) {
  if (!job.settled_by) return;
  addFact(fields, t("settledBy"), t("settled_" + job.settled_by));
  const settlement = job.settlement || {};
  const counter = schemaOf(job, "counter");
  if (settlement.before !== undefined) addBlock(fields, t("before"), formatFields(settlement.before, counter));
  if (settlement.after !== undefined) addBlock(fields, t("after"), formatFields(settlement.after, counter));
  if (settlement.note) addFact(fields, t("note"), settlement.note);
}

function resolveOpenJob(event) {
  event.preventDefault();
  const job = ui.openJob;
  const outcome = new FormData($("resolve-form")).get("outcome");
  if (!job || !outcome) return;
  guarded("resolve", async () => {
    try {
      const path = "/v1/jobs/" + encodeURIComponent(job.id) + "/resolve";
      noteJob((await api("POST", path, { outcome, note: $("resolve-note").value })).data);
      $("resolve-error").textContent = "";
      $("job-close").focus();
    } catch (err) {
      failed(err, (text) => { $("resolve-error").textContent = text; });
    }
  });
}

// ---- the receipt editor ----

function editorWidth() { return Number($("editor-width").value); }

// The editor prints through the command that prints lines at a width, with
// that width's range and default.
function setUpEditor() {
  const editor = editorCommand();
  ui.editor = editor;
  $("editor-print").disabled = !editor;
  if (!editor) return;
  showLabel($("editor-title"), editor.command.labels);
  const width = editor.width.schema;
  const input = $("editor-width");
  input.min = String(width.minimum);
  input.max = String(width.maximum);
  if (!input.value) input.value = String(width.default);
  renderPreview();
}

function renderPreview() {
  if (!ui.editor) return { lines: [], errors: [{ key: "preview_empty" }] };
  const width = editorWidth();
  const { minimum: min, maximum: max } = ui.editor.width.schema;
  const layout = layoutReceipt($("editor-text").value, width, { min, max });
  const paper = $("preview");
  if (Number.isInteger(width) && width > 0) paper.style.width = `calc(${width}ch + 1.5em)`;
  paper.replaceChildren(...layout.lines.map((line) => element("div", line.bold ? "bold" : "", line.text)));
  $("preview-errors").replaceChildren(...layout.errors.map((e) => element("li", "", t(e.key, e))));
  return layout;
}

function printReceipt() {
  if (ui.pending.has("editor")) return;
  const layout = renderPreview();
  const printer = $("editor-printer").value;
  if (layout.errors.length || !printer) return $("editor-text").focus();
  const lines = $("editor-text").value.replace(/\r/g, "").split("\n");
  if (lines[lines.length - 1] === "") lines.pop();
  const { command, lines: linesField, width: widthField } = ui.editor;
  askAndRun(printer, command.name, { [linesField.name]: lines, [widthField.name]: editorWidth() }, "editor");
}

// ---- start ----

function applyLanguage(lang) {
  localStorage.setItem(LANG_KEY, lang);
  $("lang").value = lang;
  setLanguage(lang);
  renderPrinters();
  renderJournal();
  renderPreview();
  showCommandHelp();
  renderLastResult();
  if (ui.openJob && $("job-dialog").open) showJob(ui.openJob);
  showConnection();
}

function start() {
  const saved = localStorage.getItem(LANG_KEY);
  applyLanguage(saved || (navigator.language.startsWith("sr") ? "sr" : "en"));
  $("lang").addEventListener("change", (e) => applyLanguage(e.target.value));
  $("sign-in-form").addEventListener("submit", (e) => {
    e.preventDefault();
    signIn($("token").value.trim());
  });
  $("sign-out").addEventListener("click", () => signOut(""));
  $("journal-filters").addEventListener("submit", (e) => { e.preventDefault(); refreshJournal(); });
  $("filter-printer").addEventListener("change", refreshJournal);
  $("filter-state").addEventListener("change", refreshJournal);
  $("editor-text").addEventListener("input", renderPreview);
  $("editor-width").addEventListener("input", renderPreview);
  $("editor-print").addEventListener("click", printReceipt);
  $("command-name").addEventListener("change", showCommandForm);
  $("command-form").addEventListener("submit", submitCommandForm);
  $("resolve-form").addEventListener("submit", resolveOpenJob);
  $("job-dialog").addEventListener("close", () => { ui.openJob = null; });
  // The commands are read before signing in; signing in reads them again
  // if the service was not there yet.
  loadCommands().catch(() => {});
  if (token()) signIn(token());
  else $("token").focus();
}

document.addEventListener("DOMContentLoaded", start);
