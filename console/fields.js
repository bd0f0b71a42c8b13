// A job's arguments, result and counter readings as labelled lines in the
// console's language: the service's field names never reach the screen, and
// amounts show two decimals as money does.
import { currentLocale, t } from "./i18n.js";

const MONEY_FIELDS = new Set(["subtotal", "total", "paid_cash", "paid_card", "paid_cheque", "price", "amount"]);
// The payment type's number in a result, its name in the arguments.
const PAYMENT_TYPES = ["cash", "card", "cheque"];

// The label of a field, or the field itself when it has none.
function fieldLabel(name) {
  const key = "field_" + name;
  const label = t(key);
  return label === key ? name : label;
}

function formatMoney(value) {
  return new Intl.NumberFormat(currentLocale(), {
    minimumFractionDigits: 2, maximumFractionDigits: 2, useGrouping: false,
  }).format(value);
}

function paymentName(value) {
  const name = typeof value === "number" ? PAYMENT_TYPES[value] : value;
  return PAYMENT_TYPES.includes(name) ? t("pay_" + name) : String(value);
}

function fieldValue(name, value) {
  if (value === null || value === undefined || value === "") return t("none");
  // Amounts come as numbers in results and as "12.50" in arguments.
  if (MONEY_FIELDS.has(name) && Number.isFinite(Number(value))) return formatMoney(Number(value));
  if (name === "type") return paymentName(value);
  if (typeof value === "boolean") return t(value ? "yes" : "no");
  if (Array.isArray(value)) {
    if (name === "lines") return "\n  " + value.map(String).join("\n  ");
    if (value.every((v) => typeof v !== "object")) return value.map(String).join(", ");
    return String(value.length);
  }
  if (typeof value === "object") return "\n  " + formatFields(value).split("\n").join("\n  ");
  return String(value);
}

// "Label: value" lines of an object; anything else as it is.
export function formatFields(value) {
  if (value === null || value === undefined) return "";
  if (typeof value !== "object" || Array.isArray(value)) return String(value);
  return Object.entries(value)
    .map(([name, v]) => fieldLabel(name) + ": " + fieldValue(name, v))
    .join("\n");
}
