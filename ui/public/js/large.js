// The largest-files list: "large" pages of 100, narrowed by search, category
// and minimum size. Typing sends at most one request at a time and only the
// latest search is shown.
import { CATEGORIES, COLORS, categoryOf } from './categories.js';
import { bytes, count, el } from './format.js';
import { LatestOnly } from './engine.js';

const PAGE = 100;

export class LargeView {
  constructor(app) {
    this.app = app;
    this.search = document.getElementById('large-search');
    this.category = document.getElementById('large-category');
    this.minimum = document.getElementById('large-minimum');
    this.countText = document.getElementById('large-count');
    this.body = document.querySelector('#large-table tbody');
    this.prev = document.getElementById('large-prev');
    this.next = document.getElementById('large-next');
    this.offset = 0;
    this.total = 0;
    this.loader = new LatestOnly((args, isLatest) => this.fetch(args, isLatest));
    let typing;
    this.search.addEventListener('input', () => {
      clearTimeout(typing);
      typing = setTimeout(() => this.load(0), 200);
    });
    this.category.addEventListener('change', () => this.load(0));
    this.minimum.addEventListener('change', () => this.load(0));
    this.prev.addEventListener('click', () => this.load(Math.max(0, this.offset - PAGE)));
    this.next.addEventListener('click', () => this.load(this.offset + PAGE));
    document.getElementById('large-form').addEventListener('submit', (event) => event.preventDefault());
  }

  clear() {
    this.body.replaceChildren();
    this.countText.textContent = '';
    this.total = 0;
  }

  load(offset = this.offset) {
    this.loader.call({
      minimum: Number(this.minimum.value),
      search: this.search.value,
      category: this.category.value,
      categories: CATEGORIES,
      offset,
    });
  }

  async fetch(args, isLatest) {
    const reply = await this.app.engine.request('large', args);
    if (!isLatest()) return;
    this.offset = args.offset;
    this.total = reply.count;
    this.showCategories(reply.categories, args.category);
    const last = Math.min(reply.count, args.offset + reply.items.length);
    this.countText.textContent = reply.count === 0
      ? 'No files match.'
      : `${count(args.offset + 1)}–${count(last)} of ${count(reply.count)} files`;
    this.prev.disabled = args.offset === 0;
    this.next.disabled = args.offset + PAGE >= reply.count;
    this.body.replaceChildren(...reply.items.map((entry) => this.row(entry)));
  }

  showCategories(counts, selected) {
    const options = [el('option', { value: 'all' }, 'all')];
    for (const name of [...Object.keys(CATEGORIES).sort(), 'other']) {
      options.push(el('option', { value: name }, `${name} (${count(counts[name] ?? 0)})`));
    }
    this.category.replaceChildren(...options);
    this.category.value = selected;
  }

  row(entry) {
    const category = categoryOf(entry.name);
    return el('tr', { dataset: { id: String(entry.id) } },
      el('td', {}, entry.name),
      el('td', {}, el('span', { className: 'chip', style: { background: COLORS[category] } }, category)),
      el('td', { className: 'num' }, bytes(entry.size)),
      el('td', { className: 'path' }, entry.path),
      el('td', { className: 'actions' },
        el('button', { type: 'button', title: 'Show in the treemap', onclick: () => this.app.reveal(entry) }, 'Reveal'),
        el('button', { type: 'button', onclick: () => this.app.measure.add(entry.path) }, 'Measure'),
        el('button', { type: 'button', className: 'danger', onclick: () => this.app.forget(entry) }, 'Forget')));
  }
}
