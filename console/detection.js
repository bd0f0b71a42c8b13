// A detection job's outcome in a technician's words: the speed found and
// what to put in the configuration to keep it, or why no port answered.
import { element } from "./dom.js";
import { t } from "./i18n.js";

export const DETECT_COMMAND = "detect";
const SERVICE_CONFIG = "/etc/zuv-server/config.toml";
const PORT_FINDINGS = new Set(["answered", "silent", "not-tried", "console", "busy", "unusable", "lost"]);
// Findings whose detail says what went wrong with the port.
const EXPLAINED_FINDINGS = new Set(["unusable", "lost"]);

export function isDetection(job) {
  return Boolean(job) && job.command === DETECT_COMMAND;
}

// Elements that describe a settled detection; none when its result is
// missing, so the caller falls back to the job's error.
export function detectionLines(job) {
  const result = job.result;
  if (!result || typeof result !== "object" || !result.port) return [];
  const lines = job.state === "done" ? foundLines(job.printer, result) : notFoundLines(result);
  if (Number.isFinite(result.elapsed_ms))
    lines.push(element("p", "hint", t("detect_elapsed", { seconds: (result.elapsed_ms / 1000).toFixed(1) })));
  return lines;
}

function foundLines(printer, result) {
  const port = result.port;
  // No speed: a tcp:// port, where the device server sets the line speed.
  if (result.baud === null || result.baud === undefined)
    return [element("p", "", t("detect_foundTcp", { port }))];
  const lines = [element("p", "", t("detect_found", { port, baud: result.baud }))];
  const configured = result.configured_baud;
  if (!Number.isInteger(configured)) return lines;
  if (configured === result.baud) {
    lines.push(element("p", "", t("detect_sameSpeed")));
    return lines;
  }
  lines.push(element("p", "", t("detect_otherSpeed",
    { printer, baud: result.baud, configured, file: SERVICE_CONFIG })));
  lines.push(element("pre", "config-line", "baud = " + result.baud));
  return lines;
}

function notFoundLines(result) {
  const lines = [element("p", "error", t("detect_notFound", { port: result.port }))];
  const ports = Array.isArray(result.ports) ? result.ports : [];
  if (!ports.length) return lines;
  const list = element("ul", "port-findings");
  list.append(...ports.map((entry) => element("li", "", portFinding(entry))));
  lines.push(list);
  return lines;
}

// One port's line: "PORT: why".
function portFinding(entry) {
  const finding = String(entry.finding || "");
  const known = PORT_FINDINGS.has(finding);
  let text = t(known ? "detect_" + finding : "detect_other",
    { port: entry.port || "", baud: entry.baud ?? "", finding });
  if (entry.detail && (!known || EXPLAINED_FINDINGS.has(finding))) text += ": " + entry.detail;
  return text;
}

// The printer card's speed: the one the service uses now.
export function describeSpeed(baud) {
  return baud === null ? t("speed_deviceServer") : t("speed_baud", { baud });
}
