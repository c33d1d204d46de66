// The duplicates view: runs "duplicates", shows each hashing stage's
// progress, then the groups (most reclaimable first) 50 to a page.
import { bytes, count, el, fill, modified, seconds } from './format.js';

const PAGE = 50;

export class DuplicatesView {
  constructor(app) {
    this.app = app;
    this.minimum = document.getElementById('duplicates-minimum');
    this.start = document.getElementById('duplicates-start');
    this.summary = document.getElementById('duplicates-summary');
    this.list = document.getElementById('duplicates-groups');
    this.pageText = document.getElementById('duplicates-page');
    this.prev = document.getElementById('duplicates-prev');
    this.next = document.getElementById('duplicates-next');
    this.groups = [];
    this.offset = 0;
    document.getElementById('duplicates-form').addEventListener('submit', (event) => {
      event.preventDefault();
      this.run();
    });
    this.prev.addEventListener('click', () => this.show(this.offset - PAGE));
    this.next.addEventListener('click', () => this.show(this.offset + PAGE));
    this.clear();
  }

  clear() {
    this.groups = [];
    this.summary.textContent = '';
    for (const stage of document.querySelectorAll('#duplicates-stages .stage')) this.stage(stage.dataset.phase, 0, 0);
    this.show(0);
  }

  stage(phase, done, total) {
    const stage = document.querySelector(`#duplicates-stages .stage[data-phase="${phase}"]`);
    fill(stage.querySelector('.progress'), total ? done / total : 0);
    stage.querySelector('.stage-text').textContent = total ? `${count(done)} / ${count(total)} files` : '';
  }

  async run() {
    this.clear();
    this.start.disabled = true;
    this.summary.textContent = 'Looking for files of equal size…';
    try {
      const minimum = Math.max(0, Math.floor(Number(this.minimum.value) || 0));
      const reply = await this.app.engine.request('duplicates', { minimum }, (event) => {
        this.stage(event.phase, event.entries, event.total);
        this.summary.textContent = `${event.phase === 'sampling' ? 'Sampling' : 'Hashing'} candidates… ${seconds(event.elapsedMs)}`;
      });
      this.groups = reply.groups;
      let reclaimable = 0;
      for (const group of reply.groups) reclaimable += group.reclaimable;
      this.summary.textContent = `${count(reply.groups.length)} groups of identical files; ${bytes(reclaimable)} reclaimable by keeping one copy of each (${seconds(reply.elapsedMs)}).`;
      this.show(0);
    } catch (error) {
      this.summary.textContent = `Duplicates failed: ${error.message}`;
    } finally {
      this.start.disabled = false;
    }
  }

  show(offset) {
    this.offset = Math.max(0, offset);
    const page = this.groups.slice(this.offset, this.offset + PAGE);
    this.prev.disabled = this.offset === 0;
    this.next.disabled = this.offset + PAGE >= this.groups.length;
    this.pageText.textContent = this.groups.length
      ? `groups ${count(this.offset + 1)}–${count(this.offset + page.length)} of ${count(this.groups.length)}`
      : '';
    this.list.start = this.offset + 1;
    this.list.replaceChildren(...page.map((group) => el('li', { className: 'group', dataset: { id: group.id } },
      el('div', {},
        el('strong', {}, `${bytes(group.reclaimable)} reclaimable`),
        ` · ${group.files.length} copies of ${bytes(group.files[0].size)} · `,
        el('span', { className: 'muted hash', title: group.id }, group.id.slice(0, 16))),
      el('ul', {}, ...group.files.map((file, i) => el('li', {},
        el('span', { className: 'path' }, file.path),
        el('span', { className: 'muted' }, ` ${modified(file.modified)}${i === 0 ? ' · oldest, kept' : ''} `),
        el('button', { type: 'button', onclick: () => this.app.reveal(file) }, 'Reveal')))))));
  }
}
