// A job's arguments, result and counter readings as labelled lines in the
// console's language, read through the command's schema from the API
// document: the service's field names never reach the screen, and amounts
// show two decimals as money does.
import { currentLocale, labelOf, t } from "./i18n.js";

function formatMoney(value) {
  return new Intl.NumberFormat(currentLocale(), {
    minimumFractionDigits: 2, maximumFractionDigits: 2, useGrouping: false,
  }).format(value);
}

// The label of a field, or the field itself when the document has none.
function fieldLabel(name, schema) {
  return (schema && (labelOf(schema["x-labels"]) || schema.title)) || name;
}

// An enum's value in words; a result may carry its index instead.
function enumValue(value, schema) {
  const values = schema.enum;
  const name = typeof value === "number" && values[value] !== undefined ? values[value] : value;
  const labels = schema["x-value-labels"] && schema["x-value-labels"][name];
  return labels ? labelOf(labels) : String(value);
}

function fieldValue(value, schema) {
  if (value === null || value === undefined || value === "") return t("none");
  const s = schema || {};
  // Amounts come as numbers in results and as "12.50" in arguments.
  if (s["x-format"] === "money" && Number.isFinite(Number(value))) return formatMoney(Number(value));
  if (Array.isArray(s.enum)) return enumValue(value, s);
  if (typeof value === "boolean") return t(value ? "yes" : "no");
  if (Array.isArray(value)) {
    if (value.every((v) => typeof v !== "object")) {
      // Lines of text read best one under another.
      if (s.items && s.items.type === "string") return "\n  " + value.map(String).join("\n  ");
      return value.map(String).join(", ");
    }
    return String(value.length);
  }
  if (typeof value === "object") return "\n  " + formatFields(value, s).split("\n").join("\n  ");
  return String(value);
}

// "Label: value" lines of an object, by its schema; anything else as it is.
export function formatFields(value, schema) {
  if (value === null || value === undefined) return "";
  if (typeof value !== "object" || Array.isArray(value)) return String(value);
  const props = (schema && schema.properties) || {};
  return Object.entries(value)
    .map(([name, v]) => fieldLabel(name, props[name]) + ": " + fieldValue(v, props[name]))
    .join("\n");
}
