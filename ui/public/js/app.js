// The page: connects to the engine, switches views and holds what the views
// share (the engine, "forget", "reveal").
import { Engine } from './engine.js';
import { toast } from './format.js';
import { DuplicatesView } from './duplicates.js';
import { LargeView } from './large.js';
import { MeasureView } from './measure.js';
import { ScanForm } from './scan.js';
import { SystemView } from './system.js';
import { TreemapView } from './treemap.js';

class App {
  constructor() {
    this.timings = {};
    this.scan = new ScanForm(this);
    this.treemap = new TreemapView(this);
    this.large = new LargeView(this);
    this.duplicates = new DuplicatesView(this);
    this.system = new SystemView(this);
    this.measure = new MeasureView(this);
    for (const tab of document.querySelectorAll('[role=tab]')) {
      tab.addEventListener('click', () => this.showView(tab.dataset.view));
    }
    this.connect();
  }

  connect() {
    const token = new URLSearchParams(location.search).get('token');
    const url = `ws://${location.host}/ws${token ? `?token=${encodeURIComponent(token)}` : ''}`;
    const engine = new Engine(url, (reason) => {
      if (this.engine !== engine) return;
      document.getElementById('scan-text').textContent = `The engine stopped (${reason}). Reload the page to start a new one.`;
    });
    this.engine = engine;
    engine.opened.then(
      () => { document.getElementById('scan-text').textContent = 'Ready: choose a folder and scan it.'; },
      (error) => { document.getElementById('scan-text').textContent = error.message; });
  }

  // Ends the engine (and whatever it was doing) and starts a fresh one.
  restartEngine(message) {
    const old = this.engine;
    this.connect();
    old.close();
    this.scan.setRunning(false);
    this.viewsCleared();
    document.getElementById('scan-text').textContent = message;
  }

  showView(name) {
    for (const tab of document.querySelectorAll('[role=tab]')) tab.setAttribute('aria-selected', String(tab.dataset.view === name));
    for (const view of document.querySelectorAll('.view')) view.hidden = view.id !== `view-${name}`;
    if (name === 'treemap') this.treemap.redraw(this.treemap.selected?.entry?.id ?? null);
    if (name === 'large') this.large.load();
    if (name === 'system' && !this.system.snapshot) this.system.refresh();
  }

  viewsCleared() {
    this.treemap.clear();
    this.large.clear();
    this.duplicates.clear();
  }

  async scanned(summary) {
    if (summary.root === null) return;
    await this.treemap.open(0);
    if (!document.getElementById('view-large').hidden) this.large.load(0);
  }

  // Takes an item out of the index ("forget"); nothing on disk changes.
  async forget(entry) {
    if (!confirm(`Forget ${entry.path} from this view?\n\nNothing is deleted; a new scan brings it back.`)) return;
    try {
      const summary = await this.engine.request('forget', { paths: [entry.path] });
      this.scan.report(summary);
      toast(`Forgot ${entry.path}`);
      const here = this.treemap.trail.at(-1);
      const gone = here && (here.path === entry.path || here.path.startsWith(`${entry.path}/`));
      await this.treemap.open(gone ? entry.parent ?? 0 : here?.id ?? 0);
      if (!document.getElementById('view-large').hidden) this.large.load();
    } catch (error) {
      toast(error.message);
    }
  }

  // Shows an item in the treemap, inside its folder.
  async reveal(entry) {
    this.showView('treemap');
    try {
      await this.treemap.open(entry.parent ?? entry.id, entry.id);
    } catch (error) {
      toast(error.message);
    }
  }
}

async function start() {
  const app = new App();
  window.quillmarsh = app;  // for the console and the browser tests
  try {
    const config = await (await fetch('/config.json')).json();
    if (!app.scan.root.value) app.scan.root.value = config.home;
  } catch {
    // The form still works; the user types a folder.
  }
}

start();
