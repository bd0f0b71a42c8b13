// A command's form, built from its argument schema in the API document: one
// control per field with the schema's type, limits and labels, and the
// request body read back from it. The service checks the body again.
import { element } from "./dom.js";
import { showLabel, t } from "./i18n.js";

function labelsOf(name, schema) {
  return schema["x-labels"] || { en: schema.title || name, sr: schema.title || name };
}

// Text that follows the language: a generic string by its key.
function i18nText(tag, className, key) {
  const el = element(tag, className, t(key));
  el.dataset.i18n = key;
  return el;
}

function enumControl(schema) {
  const select = element("select");
  for (const value of schema.enum) {
    const labels = (schema["x-value-labels"] || {})[value] || { en: value, sr: value };
    const option = showLabel(new Option("", value), labels);
    select.append(option);
  }
  if ("default" in schema) select.value = schema.default;
  return select;
}

function inputControl(schema) {
  const input = element("input");
  if (schema.type === "integer") {
    input.type = "number";
    input.step = "1";
    if ("minimum" in schema) input.min = String(schema.minimum);
    if ("maximum" in schema) input.max = String(schema.maximum);
  } else if (schema.type === "boolean") {
    input.type = "checkbox";
    input.checked = Boolean(schema.default);
    return input;
  } else if (schema.format === "date") {
    input.type = "date";
  } else {
    input.type = "text";
    input.spellcheck = false;
    if (schema["x-format"] === "money") input.inputMode = "decimal";
    if ("minLength" in schema) input.minLength = schema.minLength;
    if ("maxLength" in schema) input.maxLength = schema.maxLength;
    if (schema.pattern) input.pattern = schema.pattern.replace(/^\^/, "").replace(/\$$/, "");
    if (schema.examples && schema.examples.length) input.placeholder = String(schema.examples[0]);
  }
  if ("default" in schema && schema.type !== "boolean") input.value = String(schema.default);
  return input;
}

// An array is written one entry per line; an entry with fields as
// comma-separated values in the schema's order.
function listControl(schema, hint) {
  const area = element("textarea");
  area.rows = 4;
  area.spellcheck = false;
  const item = schema.items || {};
  if (item.type === "object") {
    const names = Object.entries(item.properties || {});
    hint.append(i18nText("span", "", "itemsHint"), " ");
    names.forEach(([name, s], index) => {
      if (index) hint.append(", ");
      hint.append(showLabel(element("span"), labelsOf(name, s)));
    });
  } else {
    hint.append(i18nText("span", "", "linesHint"));
  }
  return area;
}

function lineValues(area) {
  const lines = area.value.replace(/\r/g, "").split("\n");
  if (lines.length && lines[lines.length - 1] === "") lines.pop();
  return lines;
}

// One line of an array of objects as its object; a message when it is not one.
function itemOf(line, index, item) {
  const props = Object.entries(item.properties || {});
  const values = line.split(",").map((v) => v.trim());
  if (values.length !== props.length)
    return { error: t("check_items", { line: index + 1, count: values.length, fields: props.length }) };
  const out = {};
  for (let i = 0; i < props.length; ++i) {
    const [name, s] = props[i];
    if (s.type === "integer") {
      if (!/^-?[0-9]+$/.test(values[i]))
        return { error: t("check_number", { line: index + 1, field: name }) };
      out[name] = Number(values[i]);
    } else {
      out[name] = values[i];
    }
  }
  return { value: out };
}

function readList(area, schema) {
  const item = schema.items || {};
  const values = [];
  for (const [index, line] of lineValues(area).entries()) {
    if (item.type === "object") {
      const parsed = itemOf(line, index, item);
      if (parsed.error) return { error: parsed.error };
      values.push(parsed.value);
    } else {
      if ("maxLength" in item && line.length > item.maxLength)
        return { error: t("check_tooLong", { line: index + 1, max: item.maxLength }) };
      values.push(line);
    }
  }
  return { value: values };
}

function readControl(control, schema) {
  if (schema.type === "array") return readList(control, schema);
  if (schema.type === "boolean") return { value: control.checked };
  if (control.value === "") return { value: undefined };
  if (schema.type === "integer") return { value: Number(control.value) };
  return { value: control.value };
}

// The fields of `argsSchema` as labelled controls in `box`; returns a
// function that reads the body, or reports the first bad field and
// returns null.
export function buildForm(box, argsSchema, idPrefix) {
  const required = new Set(argsSchema.required || []);
  const controls = [];
  const rows = [];
  for (const [name, schema] of Object.entries(argsSchema.properties || {})) {
    const id = idPrefix + name;
    const label = element("label");
    label.htmlFor = id;
    label.append(showLabel(element("span"), labelsOf(name, schema)));
    if (!required.has(name)) label.append(" (", i18nText("span", "", "optional"), ")");
    const hint = element("p", "hint");
    const control = Array.isArray(schema.enum) ? enumControl(schema)
      : schema.type === "array" ? listControl(schema, hint) : inputControl(schema);
    control.id = id;
    control.name = name;
    if (schema.description) control.title = schema.description;
    if (required.has(name) && control.type !== "checkbox") control.required = true;
    const shape = control.type === "checkbox" ? " check" : schema.type === "array" ? " wide" : "";
    const row = element("div", "form-field" + shape);
    row.dataset.field = name;
    row.append(label, control);
    if (hint.childNodes.length) row.append(hint);
    rows.push(row);
    controls.push({ name, schema, control });
  }
  box.replaceChildren(...rows);
  return () => {
    const body = {};
    for (const { name, schema, control } of controls) {
      const read = readControl(control, schema);
      control.setCustomValidity(read.error || "");
      if (!control.reportValidity()) return null;
      if (read.value !== undefined) body[name] = read.value;
    }
    return body;
  };
}
