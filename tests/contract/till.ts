// A till's session against zuv-server, typed from the service's own API
// document (openapi-typescript) and sent through openapi-fetch. It compiles
// with tsc --strict, without casts: what the types allow is what it sends.
//
// node till.js API_URL EVENTS_URL TOKEN DOCUMENT
// API_URL may be a validating proxy; the event stream goes to EVENTS_URL.
// The emulator is driven through the parent process: "EMULATOR <line>" on
// standard output, its answer lines as one JSON array on standard input.
import { readFileSync } from "node:fs";
import * as readline from "node:readline";

import { Ajv2020 } from "ajv/dist/2020.js";
import createClient from "openapi-fetch";

import type { components, paths } from "./api.js";

type Job = components["schemas"]["Job"];
type Printer = components["schemas"]["Printer"];

const [apiUrl, eventsUrl, token, documentPath] = process.argv.slice(2);
const auth = { Authorization: `Bearer ${token}` };
const api = createClient<paths>({ baseUrl: apiUrl, headers: auth });

// Run-time checks of the event data, from the same document.
const ajv = new Ajv2020({ strict: false });
ajv.addSchema(JSON.parse(readFileSync(documentPath, "utf8")), "api");
const isJob = ajv.compile<Job>({ $ref: "api#/components/schemas/Job" });
const isPrinter = ajv.compile<Printer>({ $ref: "api#/components/schemas/Printer" });

function check(condition: boolean, what: string): void {
  if (!condition) throw new Error(`till: ${what}`);
}

// The emulator, through the parent.
const answers = readline.createInterface({ input: process.stdin })[Symbol.asyncIterator]();
async function emulator(line: string): Promise<string[]> {
  process.stdout.write(`EMULATOR ${line}\n`);
  const next = await answers.next();
  const parsed: unknown = next.done ? [] : JSON.parse(next.value);
  return Array.isArray(parsed) ? parsed.map(String) : [];
}

// The event stream, read as it comes: job and printer events, each checked.
interface Events {
  jobs: Job[];
  printers: Printer[];
  live: Promise<void>;
  changed: () => void;  // wakes whoever waits for an event
  stop: () => void;
}

// Resolves once `done` holds after an event, or rejects when the budget ends.
function waitFor(events: Events, done: () => boolean, what: string, budgetMs = 10000): Promise<void> {
  return new Promise((resolve, reject) => {
    const timer = setTimeout(() => reject(new Error(`till: no ${what} within ${budgetMs} ms`)), budgetMs);
    const previous = events.changed;
    events.changed = () => {
      previous();
      if (!done()) return;
      clearTimeout(timer);
      resolve();
    };
    events.changed();
  });
}

function parseFrame(frame: string, events: Events): void {
  let name = "";
  let data = "";
  for (const line of frame.split("\n")) {
    if (line.startsWith("event: ")) name = line.slice(7);
    if (line.startsWith("data: ")) data += line.slice(6);
  }
  if (name === "") return;  // a comment: the stream's start or its heartbeat
  const value: unknown = JSON.parse(data);
  if (name === "job" && isJob(value)) events.jobs.push(value);
  else if (name === "printer" && isPrinter(value)) events.printers.push(value);
  else throw new Error(`till: event ${name} does not match the document: ${data}`);
}

function openEvents(): Events {
  const abort = new AbortController();
  let markLive = (): void => {};
  const events: Events = {
    jobs: [],
    printers: [],
    live: new Promise<void>((resolve) => { markLive = resolve; }),
    changed: () => {},
    stop: () => abort.abort(),
  };
  void (async () => {
    const response = await fetch(`${eventsUrl}/v1/events`, { headers: auth, signal: abort.signal });
    check(response.ok && response.body !== null, `events: ${response.status}`);
    const decoder = new TextDecoder();
    let buffer = "";
    try {
      for await (const chunk of response.body ?? []) {
        buffer += decoder.decode(chunk, { stream: true });
        for (let end = buffer.indexOf("\n\n"); end >= 0; end = buffer.indexOf("\n\n")) {
          parseFrame(buffer.slice(0, end), events);
          buffer = buffer.slice(end + 2);
          markLive();
          events.changed();
        }
      }
    } catch (error) {
      if (!abort.signal.aborted) throw error;
    }
  })();
  return events;
}

async function receiptState() {
  const { data, error } = await api.POST("/v1/printers/{id}/receipt-state", { params: { path: { id: "a" } } });
  check(data !== undefined && data.state === "done" && data.result !== null, `receipt-state: ${JSON.stringify(error)}`);
  return data?.result ?? null;
}

async function sale(): Promise<number> {
  await emulator("sale 199.80 1 Kafa");
  const before = await receiptState();
  check(before?.total === "199.80" && before.items === 1, `the open receipt: ${JSON.stringify(before)}`);

  const paid = await api.POST("/v1/printers/{id}/pay", {
    params: { path: { id: "a" } },
    body: { type: "card", amount: "100.00" },
  });
  const pay = paid.data;
  check(pay !== undefined && pay.state === "done", `pay: ${JSON.stringify(paid.error)}`);
  check(pay?.result?.type === "card" && pay.result.amount === "100.00", `pay result: ${JSON.stringify(pay?.result)}`);
  check((await receiptState())?.paid_card === "100.00", "the card payment is on the receipt");

  const closed = await api.POST("/v1/printers/{id}/close", { params: { path: { id: "a" } } });
  check(closed.data?.state === "done" && closed.data.error === null, `close: ${JSON.stringify(closed.error)}`);
  const after = await receiptState();
  check(after !== null && before !== null && after.receipt_number > before.receipt_number, "close opened a new receipt");
  return pay?.id ?? 0;
}

async function nonfiscalOnce(): Promise<void> {
  const send = () =>
    api.POST("/v1/printers/{id}/nonfiscal", {
      params: { path: { id: "a" }, header: { "Idempotency-Key": "till-contract-1" } },
      body: { lines: ["*^RAČUN", "Kafa||199.80"], width: 34 },
    });
  const first = await send();
  const again = await send();
  check(first.data?.state === "done", `nonfiscal: ${JSON.stringify(first.error)}`);
  check(again.data?.id === first.data?.id, "the repeat names the same job");
  check(again.response.headers.get("Idempotent-Replayed") === "true", "the repeat says it was replayed");
  const counts = await emulator("counts");
  check(counts.some((line) => /\b26\b.*\b1\b/.test(line)), `one non-fiscal receipt printed: ${counts.join(" | ")}`);
}

async function inDoubtResolved(): Promise<void> {
  await emulator("ack-silent 1");
  const sent = await api.POST("/v1/printers/{id}/x-report", { params: { path: { id: "a" } } });
  const job = sent.data;
  check(job !== undefined && job.state === "in-doubt" && job.error !== null, `x-report in doubt: ${JSON.stringify(job)}`);
  const resolved = await api.POST("/v1/jobs/{id}/resolve", {
    params: { path: { id: job?.id ?? 0 } },
    body: { outcome: "done", note: "the report is on the paper" },
  });
  const settled = resolved.data;
  check(settled !== undefined && settled.state === "done" && settled.settled_by === "person", "resolved done");
  check(settled?.error === null && settled.settlement?.cause?.kind === job?.error?.kind, "its error is the cause");
  check(typeof settled?.settled_at === "string" && settled.settlement?.note !== undefined, "settled_at and note");
}

async function failedRead(): Promise<void> {
  await emulator("error 20 1");
  const { data } = await api.POST("/v1/printers/{id}/clock", { params: { path: { id: "a" } } });
  check(data?.state === "failed" && data.result === null && data.error?.kind === "printer", `failed read: ${JSON.stringify(data)}`);
}

async function main(): Promise<void> {
  const printers = await api.GET("/v1/printers");
  check(printers.data?.printers.some((p) => p.id === "a") === true, `printers: ${JSON.stringify(printers.error)}`);
  const events = openEvents();
  await events.live;

  const payId = await sale();
  await nonfiscalOnce();
  await inDoubtResolved();
  await failedRead();

  const jobs = await api.GET("/v1/jobs", { params: { query: { limit: 50 } } });
  check((jobs.data?.jobs.length ?? 0) >= 8, "the journal lists the jobs");
  const payStates = () => events.jobs.filter((j) => j.id === payId).map((j) => j.state);
  await waitFor(events, () => payStates().includes("done"), "event of the payment's end");
  check(payStates().join(",") === "queued,running,done", `pay's events: ${payStates().join(",")}`);
  check(events.printers.some((p) => p.state === "busy"), "the printer's events");
  events.stop();
  process.stdout.write("DONE\n");
  process.exit(0);
}

main().catch((error: unknown) => {
  process.stderr.write(`${error instanceof Error ? error.message : String(error)}\n`);
  process.exit(1);
});
