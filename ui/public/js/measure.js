// The measure view: allocated bytes of chosen paths, read from the disk now
// (outside the index). Paths come from the text box, where the treemap and the
// lists add them.
import { bytes, count, el, toast } from './format.js';

export class MeasureView {
  constructor(app) {
    this.app = app;
    this.paths = document.getElementById('measure-paths');
    this.body = document.querySelector('#measure-table tbody');
    document.getElementById('measure-form').addEventListener('submit', (event) => {
      event.preventDefault();
      this.run();
    });
  }

  add(path) {
    const lines = this.paths.value.split('\n').filter((line) => line.trim() !== '');
    if (!lines.includes(path)) lines.push(path);
    this.paths.value = lines.join('\n');
    toast(`Added to Measure: ${path}`);
  }

  async run() {
    const paths = this.paths.value.split('\n').map((line) => line.trim()).filter(Boolean);
    try {
      const results = await this.app.engine.request('measure', { paths });
      this.body.replaceChildren(...results.map((r) => el('tr', {},
        el('td', { className: 'path' }, r.path),
        el('td', { className: 'num' }, bytes(r.size)),
        el('td', { className: 'num' }, count(r.errors)))));
    } catch (error) {
      toast(`Measure: ${error.message}`);
    }
  }
}
