// The scan form and its progress line. Cancel closes the engine: a scan
// cannot be interrupted otherwise, and the page connects a fresh one.
import { count, el, seconds } from './format.js';

export class ScanForm {
  constructor(app) {
    this.app = app;
    this.form = document.getElementById('scan-form');
    this.root = document.getElementById('scan-root');
    this.mode = document.getElementById('scan-mode');
    this.minimum = document.getElementById('scan-minimum');
    this.minimumLabel = document.getElementById('scan-minimum-label');
    this.start = document.getElementById('scan-start');
    this.cancel = document.getElementById('scan-cancel');
    this.bar = document.getElementById('scan-progress');
    this.text = document.getElementById('scan-text');
    this.running = false;
    this.mode.addEventListener('change', () => {
      this.minimumLabel.hidden = this.mode.value !== 'duplicates';
    });
    this.form.addEventListener('submit', (event) => {
      event.preventDefault();
      this.run();
    });
    this.cancel.addEventListener('click', () => this.app.restartEngine('Scan cancelled; the index is empty.'));
  }

  args() {
    const args = {
      root: this.root.value.trim(),
      mode: this.mode.value,
      includeHidden: document.getElementById('scan-hidden').checked,
      excludePaths: document.getElementById('scan-exclude-paths').value.split('\n').map((s) => s.trim()).filter(Boolean),
      excludeNames: document.getElementById('scan-exclude-names').value.split(',').map((s) => s.trim()).filter(Boolean),
    };
    if (this.mode.value === 'duplicates') args.minimum = Math.max(0, Math.floor(Number(this.minimum.value) || 0));
    return args;
  }

  async run() {
    this.setRunning(true);
    this.app.viewsCleared();
    const started = performance.now();
    this.text.textContent = 'Starting scan…';
    try {
      const summary = await this.app.engine.request('scan', this.args(), (event) => this.progress(event));
      const replied = performance.now();
      this.report(summary);
      await this.app.scanned(summary);
      // Read by bench/responsiveness.js.
      Object.assign(this.app.timings, { replyAt: replied, scanMs: replied - started, treemapAfterReplyMs: performance.now() - replied });
    } catch (error) {
      if (this.running) this.text.textContent = `Scan failed: ${error.message}`;
    } finally {
      this.setRunning(false);
    }
  }

  progress(event) {
    this.text.replaceChildren(
      `${count(event.entries)} entries · ${count(event.errors)} errors · ${count(event.skipped)} skipped · ${seconds(event.elapsedMs)} · `,
      el('span', { className: 'path' }, event.path));
  }

  report(summary) {
    this.text.textContent = summary.root === null
      ? 'No scan yet.'
      : `${summary.root.path}: ${count(summary.entries)} entries met, ${count(summary.retained)} indexed, `
        + `${count(summary.errors)} unreadable, ${count(summary.skipped)} skipped, in ${seconds(summary.elapsedMs)} (${summary.mode}).`;
  }

  setRunning(running) {
    this.running = running;
    this.bar.hidden = !running;
    this.cancel.hidden = !running;
    this.start.disabled = running;
  }
}
