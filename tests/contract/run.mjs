// The contract test: a real zuv-server over an emulator; its live API
// document linted, turned into TypeScript types, and a till program
// compiled against them with tsc --strict and run through a validating
// proxy that must report no violation.
//
// node run.mjs SERVER_BINARY EMULATOR_BINARY WORK_DIR
import { spawn, spawnSync } from "node:child_process";
import { copyFileSync, existsSync, mkdirSync, readFileSync, rmSync, symlinkSync, writeFileSync } from "node:fs";
import { createServer } from "node:net";
import { dirname, join } from "node:path";
import { createInterface } from "node:readline";
import { fileURLToPath } from "node:url";

const here = dirname(fileURLToPath(import.meta.url));
const [serverBinary, emulatorBinary, work] = process.argv.slice(2);
const modules = join(here, "node_modules");
const bin = (name) => join(modules, ".bin", name);
const token = "contract-test-token-0123456789";
const BUDGET_MS = 30000;  // a sanity bound on every wait
const children = [];

function fail(message) {
  process.stderr.write(`contract: ${message}\n`);
  for (const child of children) child.kill("SIGTERM");
  process.exit(1);
}

// The first line `process` writes on `stream` that starts with `prefix`.
function firstLine(child, stream, prefix) {
  return new Promise((resolve, reject) => {
    const timer = setTimeout(() => reject(new Error(`no ${prefix} line within ${BUDGET_MS} ms`)), BUDGET_MS);
    const lines = createInterface({ input: stream });
    lines.on("line", (line) => {
      if (!line.startsWith(prefix)) return;
      clearTimeout(timer);
      resolve(line.slice(prefix.length).trim());
    });
    child.on("exit", (code) => reject(new Error(`exited (${code}) before its ${prefix} line`)));
  });
}

function start(command, args, options = {}) {
  const child = spawn(command, args, { stdio: ["pipe", "pipe", "pipe"], ...options });
  children.push(child);
  return child;
}

// The emulator's control input: a line, then "status"; its answers up to
// the status's last line ("faults: ...").
function emulatorControl(emulator) {
  const answers = [];
  let waiting = null;
  createInterface({ input: emulator.stderr }).on("line", (line) => {
    answers.push(line);
    if (line.startsWith("faults:") && waiting) {
      waiting(answers.splice(0));
      waiting = null;
    }
  });
  return (line) =>
    new Promise((resolve) => {
      waiting = resolve;
      emulator.stdin.write(`${line}\nstatus\n`);
    });
}

function freePort() {
  return new Promise((resolve) => {
    const probe = createServer();
    probe.listen(0, "127.0.0.1", () => {
      const { port } = probe.address();
      probe.close(() => resolve(port));
    });
  });
}

function run(command, args, what) {
  const result = spawnSync(command, args, { cwd: work, encoding: "utf8", timeout: 5 * BUDGET_MS });
  if (result.status !== 0) fail(`${what} failed:\n${result.stdout}\n${result.stderr}`);
  return result.stdout;
}

function lint(documentPath) {
  const result = spawnSync(bin("redocly"), ["lint", documentPath, "--config", join(here, "redocly.yaml"), "--format", "json"],
                           { cwd: work, encoding: "utf8", timeout: 5 * BUDGET_MS });
  let report;
  try {
    report = JSON.parse(result.stdout);
  } catch {
    fail(`redocly lint gave no report:\n${result.stdout}\n${result.stderr}`);
  }
  const { errors, warnings } = report.totals;
  if (errors !== 0 || warnings !== 0)
    fail(`redocly lint: ${errors} errors, ${warnings} warnings:\n${JSON.stringify(report.problems, null, 2)}`);
}

// The till must hold to the types: no casts, no any.
function checkTillSource(text) {
  const code = text.replace(/\/\/.*$/gm, "").replace(/"[^"\n]*"|`[^`]*`/g, '""').replace(/import \* as/g, "");
  if (/\bas\s+(?!const\b)[A-Za-z_{[(]/.test(code) || /\bany\b/.test(code) || /<[A-Z]\w*>\s*\w/.test(code.replace(/compile<\w+>|Promise<\w+>/g, "")))
    fail("till.ts uses a cast or any");
}

async function main() {
  if (!existsSync(join(modules, "openapi-typescript")))
    fail(`node_modules is missing in ${here}: run "npm ci" there first (the packages are pinned in package-lock.json)`);
  rmSync(work, { recursive: true, force: true });
  mkdirSync(join(work, "state"), { recursive: true });
  symlinkSync(modules, join(work, "node_modules"));

  const emulator = start(emulatorBinary, ["--quiet"]);
  const printerPort = await firstLine(emulator, emulator.stdout, "PORT");
  const control = emulatorControl(emulator);
  const server = start(serverBinary, ["--listen", "127.0.0.1:0", "--state-dir", join(work, "state"),
                                      "--printer", `a=${printerPort}`],
                       { env: { ...process.env, ZUV_SERVER_TOKEN: token } });
  const serverUrl = await firstLine(server, server.stdout, "LISTEN");
  server.stderr.on("data", (chunk) => process.stderr.write(`zuv-server: ${chunk}`));

  const documentPath = join(work, "openapi.json");
  const response = await fetch(`${serverUrl}/v1/openapi.json`);
  writeFileSync(documentPath, await response.text());
  lint(documentPath);
  run(bin("openapi-typescript"), [documentPath, "-o", join(work, "api.d.ts")], "openapi-typescript");

  const tillSource = readFileSync(join(here, "till.ts"), "utf8");
  checkTillSource(tillSource);
  copyFileSync(join(here, "till.ts"), join(work, "till.ts"));
  copyFileSync(join(here, "tsconfig.json"), join(work, "tsconfig.json"));
  writeFileSync(join(work, "package.json"), '{"type": "module"}\n');
  run(bin("tsc"), ["-p", join(work, "tsconfig.json")], "tsc --strict");

  const proxyPort = await freePort();
  const proxy = start(bin("prism"), ["proxy", documentPath, serverUrl, "--host", "127.0.0.1",
                                     "--port", String(proxyPort), "--errors", "false"]);
  const proxyLog = [];
  createInterface({ input: proxy.stderr }).on("line", (line) => proxyLog.push(line));
  const proxyOut = createInterface({ input: proxy.stdout });
  await new Promise((resolve, reject) => {
    const timer = setTimeout(() => reject(new Error("the proxy did not start")), BUDGET_MS);
    proxyOut.on("line", (line) => {
      proxyLog.push(line);
      if (/Prism is listening/.test(line)) {
        clearTimeout(timer);
        resolve();
      }
    });
  });

  const till = start(process.execPath, [join(work, "till.js"), `http://127.0.0.1:${proxyPort}`, serverUrl, token,
                                        documentPath]);
  till.stderr.on("data", (chunk) => process.stderr.write(chunk));
  let finished = false;
  createInterface({ input: till.stdout }).on("line", async (line) => {
    if (line === "DONE") finished = true;
    if (!line.startsWith("EMULATOR ")) return;
    const answer = await control(line.slice("EMULATOR ".length));
    till.stdin.write(`${JSON.stringify(answer)}\n`);
  });
  const code = await new Promise((resolve) => till.on("exit", resolve));
  const violations = proxyLog.filter((line) => /violation/i.test(line));
  process.stdout.write(`proxy log:\n${proxyLog.join("\n")}\n`);
  if (code !== 0 || !finished) fail(`the till program failed (${code})`);
  if (violations.length !== 0) fail(`${violations.length} violations:\n${violations.join("\n")}`);
  process.stdout.write("contract: the document lints clean, the till compiles and runs, 0 violations\n");
  for (const child of children) child.kill("SIGTERM");
}

main().catch((error) => fail(error.stack ?? String(error)));
