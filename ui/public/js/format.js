// Text for numbers, sizes and times, and small DOM helpers shared by the views.

const UNITS = ['B', 'KB', 'MB', 'GB', 'TB', 'PB', 'EB'];

// 1536 -> "1.5 KB" (decimal units, as disk makers and file managers count).
export function bytes(n) {
  let value = Number(n);
  let unit = 0;
  while (value >= 1000 && unit < UNITS.length - 1) {
    value /= 1000;
    unit += 1;
  }
  return unit === 0 ? `${value} B` : `${value.toFixed(value < 10 ? 1 : 0)} ${UNITS[unit]}`;
}

export function count(n) {
  return Number(n).toLocaleString('en-US');
}

export function seconds(ms) {
  return `${(ms / 1000).toFixed(1)} s`;
}

export function percent(value) {
  return value === null ? '–' : `${value.toFixed(1)} %`;
}

// Nanoseconds since the epoch -> local date and time.
export function modified(ns) {
  if (!ns) return 'unknown';
  return new Date(Number(BigInt(ns) / 1000000n)).toLocaleString();
}

// Creates an element: el('td', { className: 'num' }, 'text', child, ...).
export function el(tag, properties = {}, ...children) {
  const node = document.createElement(tag);
  for (const [key, value] of Object.entries(properties)) {
    // Style goes through the CSSOM: the page's content policy refuses style attributes.
    if (key === 'dataset' || key === 'style') Object.assign(node[key], value);
    else if (key in node) node[key] = value;
    else node.setAttribute(key, value);
  }
  for (const child of children) {
    if (child !== null && child !== undefined) node.append(child);
  }
  return node;
}

let toastTimer;
// A short message at the bottom of the page.
export function toast(text) {
  const box = document.getElementById('toast');
  box.textContent = text;
  box.hidden = false;
  clearTimeout(toastTimer);
  toastTimer = setTimeout(() => { box.hidden = true; }, 5000);
}

// Sets a bar's fill, fraction 0 to 1.
export function fill(bar, fraction) {
  bar.firstElementChild.style.width = `${Math.max(0, Math.min(1, fraction)) * 100}%`;
}
