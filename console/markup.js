// The non-fiscal receipt's markup, laid out as the printer lays it out: each
// line padded to the paper width, so the preview shows what the paper shows.
// Lengths count UTF-16 units, as the tool does when it checks a line.

const MARKUP = {
  bold: "*",
  left: "<",
  centre: "^",
  right: ">",
  columns: "||",
};

// One line of markup: {text, bold} laid out to `width`, or {error: {key, length}}.
function layoutMarkupLine(source, width) {
  let text = source;
  let bold = false;
  let align = "left";
  if (text.startsWith(MARKUP.bold)) { bold = true; text = text.slice(1); }
  const marks = { [MARKUP.left]: "left", [MARKUP.centre]: "centre", [MARKUP.right]: "right" };
  if (text.length > 0 && marks[text[0]]) { align = marks[text[0]]; text = text.slice(1); }
  const bar = text.indexOf(MARKUP.columns);
  if (bar >= 0) {
    const left = text.slice(0, bar);
    const right = text.slice(bar + MARKUP.columns.length);
    const length = left.length + right.length;
    if (length + 1 > width) return { error: { key: "preview_columns", length } };
    return { bold, text: left + " ".repeat(width - length) + right };
  }
  if (text.length > width) return { error: { key: "preview_tooLong", length: text.length } };
  const gap = width - text.length;
  if (align === "right") return { bold, text: " ".repeat(gap) + text };
  if (align === "centre") {
    // An odd gap puts the extra space in front, as the printer does.
    const after = Math.floor(gap / 2);
    return { bold, text: " ".repeat(gap - after) + text + " ".repeat(after) };
  }
  return { bold, text: text + " ".repeat(gap) };
}

// The whole receipt: {lines: [{text, bold}], errors: [{key, line, length, width}]}.
// `limits` is the width's range {min, max}, as the service's document says.
export function layoutReceipt(source, width, limits) {
  const result = { lines: [], errors: [] };
  if (!Number.isInteger(width) || width < limits.min || width > limits.max) {
    result.errors.push({ key: "preview_width", ...limits });
    return result;
  }
  const rows = source.replace(/\r/g, "").split("\n");
  if (rows.length > 0 && rows[rows.length - 1] === "") rows.pop();
  if (rows.length === 0) result.errors.push({ key: "preview_empty" });
  rows.forEach((row, index) => {
    const line = layoutMarkupLine(row, width);
    if (line.error) result.errors.push({ ...line.error, line: index + 1, width });
    else result.lines.push(line);
  });
  return result;
}
