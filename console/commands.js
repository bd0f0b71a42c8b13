// The printer commands as the service's API document describes them: which
// there are, their labels, effect, help and confirmation, and the schemas
// of their arguments, results and counter readings. Nothing about a command
// is written here; a new row in the service shows up on its own.

const DOCUMENT_PATH = "/v1/openapi.json";
const COMMAND_PATH = "/v1/printers/{id}/";

const catalogue = { commands: [], byName: new Map() };

// "#/components/schemas/PayArgs" -> that schema, followed as deep as refs go.
function resolve(document, schema) {
  let current = schema;
  for (let depth = 0; current && current.$ref && depth < 8; ++depth) {
    const path = current.$ref.replace(/^#\//, "").split("/");
    current = path.reduce((node, key) => (node ? node[key] : undefined), document);
  }
  return current || null;
}

// The non-null branch of {"oneOf": [schema, {"type": "null"}]}.
function nonNull(document, schema) {
  const resolved = resolve(document, schema);
  if (resolved && Array.isArray(resolved.oneOf))
    return resolve(document, resolved.oneOf.find((s) => s.type !== "null")) || null;
  return resolved;
}

function commandOf(document, operation) {
  const ok = operation.responses && operation.responses["200"];
  const job = ok && ok.content ? resolve(document, ok.content["application/json"].schema) : null;
  const props = (job && job.properties) || {};
  const settlement = nonNull(document, props.settlement);
  // The job's own arguments: the request body adds the service's options
  // (`strict`), which are no part of the command.
  const args = resolve(document, props.args);
  return {
    name: operation["x-command"],
    labels: operation["x-labels"] || {},
    effect: operation["x-effect"] || "",
    help: operation["x-help"] || "",
    question: operation["x-confirm"] || "",
    confirm: "x-confirm" in operation,
    args: args && args.properties && Object.keys(args.properties).length ? args : null,
    result: nonNull(document, props.result),
    counter: settlement && settlement.properties ? nonNull(document, settlement.properties.before) : null,
  };
}

// Reads the document's command operations, in the service's order.
export function loadCatalogue(document) {
  const commands = [];
  for (const [path, item] of Object.entries(document.paths || {})) {
    const operation = item.post;
    if (!path.startsWith(COMMAND_PATH) || !operation || !operation["x-command"]) continue;
    commands.push(commandOf(document, operation));
  }
  catalogue.commands = commands;
  catalogue.byName = new Map(commands.map((c) => [c.name, c]));
  return commands;
}

export async function fetchDocument() {
  const response = await fetch(DOCUMENT_PATH, { cache: "no-store" });
  if (!response.ok) throw new Error("HTTP " + response.status);
  return response.json();
}

export function commands() { return catalogue.commands; }
export function findCommand(name) { return catalogue.byName.get(name) || null; }

// The receipt editor's command: the one that prints lines of text at a
// width, whatever its name. {command, lines, width} with the field names
// and their schemas, or null.
export function editorCommand() {
  for (const command of catalogue.commands) {
    const props = command.args ? Object.entries(command.args.properties) : [];
    const lines = props.find(([, s]) => s.type === "array" && s.items && s.items.type === "string");
    const width = props.find(([, s]) => s.type === "integer" && "default" in s);
    if (lines && width && props.length === 2)
      return { command, lines: { name: lines[0], schema: lines[1] }, width: { name: width[0], schema: width[1] } };
  }
  return null;
}
