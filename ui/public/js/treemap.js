// The treemap view: one directory's children as tiles, the largest
// directories drawn with their own children inside, breadcrumbs above, and
// a details pane for the selected tile (checked against the disk with "entry").
import { COLORS, categoryOf } from './categories.js';
import { bytes, count, el, modified, toast } from './format.js';
import { layoutPage, neighbour } from './treemap_layout.js';

// Directories drawn with their own children inside, largest first.
const NESTED_DIRECTORIES = 16;
const HEADER = 18;

export class TreemapView {
  constructor(app) {
    this.app = app;
    this.box = document.getElementById('treemap');
    this.crumbs = document.getElementById('breadcrumbs');
    this.details = document.getElementById('details');
    this.trail = [];       // entries from the root to the directory shown
    this.tiles = [];       // layout of the directory shown, with .node
    this.selected = null;  // the selected tile
    this.generation = 0;   // bumped on every redraw, so stale loads stop
    this.box.addEventListener('keydown', (event) => this.key(event));
    this.box.addEventListener('click', (event) => this.tileEvent(event, false));
    this.box.addEventListener('dblclick', (event) => this.tileEvent(event, true));
    // A resize redraws the map around the same selection.
    let resizeTimer;
    new ResizeObserver(() => {
      clearTimeout(resizeTimer);
      resizeTimer = setTimeout(() => this.redraw(this.selected?.entry?.id ?? null), 150);
    }).observe(this.box);
  }

  clear() {
    this.generation += 1;
    this.trail = [];
    this.tiles = [];
    this.page = null;
    this.box.replaceChildren();
    this.crumbs.replaceChildren();
    this.details.replaceChildren(el('p', { className: 'muted' }, 'Select a tile to see its details.'));
  }

  // Shows directory `id`; the trail is rebuilt from the parents when it is
  // not a step along the current one.
  async open(id, selectId = null) {
    const engine = this.app.engine;
    const page = await engine.request('children', { id });
    const at = this.trail.findIndex((entry) => entry.id === id);
    if (at !== -1) {
      this.trail = this.trail.slice(0, at);
    } else if (!(this.trail.length && page.parent.parent === this.trail[this.trail.length - 1].id)) {
      this.trail = [];
      for (let up = page.parent.parent; up !== null;) {
        const { parent } = await engine.request('children', { id: up, offset: 4294967295 });
        this.trail.unshift(parent);
        up = parent.parent;
      }
    }
    this.trail.push(page.parent);
    this.page = page;
    this.drawCrumbs();
    this.redraw(selectId);
  }

  drawCrumbs() {
    this.crumbs.replaceChildren(...this.trail.map((entry, i) => {
      const last = i === this.trail.length - 1;
      const label = i === 0 ? entry.path : entry.name;
      return last
        ? el('span', { className: 'crumb current', ariaCurrent: 'location' }, label, el('span', { className: 'muted' }, ` ${bytes(entry.size)}`))
        : el('button', { className: 'crumb', type: 'button', onclick: () => this.open(entry.id) }, label);
    }));
  }

  redraw(selectId = null) {
    if (!this.page) return;
    const generation = ++this.generation;
    // Keyboard users keep their place: the new selection takes over the focus.
    const hadFocus = this.box.contains(document.activeElement);
    const { width, height } = this.box.getBoundingClientRect();
    // A hidden view has no size; the resize observer draws it when it shows.
    if (width === 0 || height === 0) return;
    this.tiles = layoutPage(this.page.parent, this.page.items, width, height);
    this.box.replaceChildren(...this.tiles.map((tile) => this.tileNode(tile)));
    const first = this.tiles.find((tile) => tile.entry?.id === selectId) ?? this.tiles[0];
    if (first) this.select(first, hadFocus);
    this.fillNested(generation);
  }

  tileNode(tile) {
    const { entry, rest } = tile;
    const kind = rest ? 'rest' : entry.directory ? 'directory' : 'file';
    const name = rest ? (rest.more ? 'more items' : 'files not listed') : entry.name;
    const node = el('div', {
      className: `tile ${kind}`,
      role: 'button',
      tabIndex: -1,
      title: `${name}\n${bytes(rest ? rest.bytes : entry.size)}`,
      ariaLabel: `${name}, ${bytes(rest ? rest.bytes : entry.size)}${kind === 'directory' ? ', folder' : ''}`,
      dataset: { kind, name, size: String(rest ? rest.bytes : entry.size), ...(entry ? { id: String(entry.id) } : {}) },
    });
    Object.assign(node.style, {
      left: `${tile.x}px`, top: `${tile.y}px`, width: `${tile.width}px`, height: `${tile.height}px`,
      background: kind === 'file' ? COLORS[categoryOf(entry.name)] : COLORS[kind],
    });
    if (tile.width > 40 && tile.height > 14) {
      node.append(el('span', { className: 'label' }, name, tile.height > 30 ? el('small', {}, ` ${bytes(rest ? rest.bytes : entry.size)}`) : null));
    }
    tile.node = node;
    return node;
  }

  // Draws the children of the largest directory tiles inside them, one
  // request at a time, stopping as soon as the view moves on.
  async fillNested(generation) {
    const roomy = this.tiles
      .filter((tile) => tile.entry?.directory && tile.width > 80 && tile.height > 50)
      .slice(0, NESTED_DIRECTORIES);
    for (const tile of roomy) {
      let page;
      try {
        page = await this.app.engine.request('children', { id: tile.entry.id });
      } catch {
        return;
      }
      if (generation !== this.generation) return;
      const inner = layoutPage(page.parent, page.items, tile.width - 4, tile.height - HEADER - 2, 1);
      const box = el('div', { className: 'nested' });
      box.style.top = `${HEADER}px`;
      box.append(...inner.map(({ entry, rest, x, y, width, height }) => {
        const child = el('div', { className: 'inner', title: rest ? bytes(rest.bytes) : `${entry.name}\n${bytes(entry.size)}` });
        Object.assign(child.style, {
          left: `${x}px`, top: `${y}px`, width: `${width}px`, height: `${height}px`,
          background: rest ? COLORS.rest : entry.directory ? '#c9d1da' : COLORS[categoryOf(entry.name)],
        });
        return child;
      }));
      tile.node.append(box);
    }
    this.app.timings.nestedDrawnAt = performance.now();
  }

  tileEvent(event, open) {
    const node = event.target.closest('.tile');
    const tile = node && this.tiles.find((t) => t.node === node);
    if (!tile) return;
    this.select(tile, true);
    if (open && tile.entry?.directory) this.open(tile.entry.id);
  }

  key(event) {
    const directions = { ArrowLeft: 'left', ArrowRight: 'right', ArrowUp: 'up', ArrowDown: 'down' };
    if (directions[event.key] && this.selected) {
      const next = neighbour(this.tiles, this.selected, directions[event.key]);
      if (next) this.select(next, true);
    } else if (event.key === 'Enter' && this.selected?.entry?.directory) {
      this.open(this.selected.entry.id);
    } else if ((event.key === 'Backspace' || event.key === 'Escape') && this.trail.length > 1) {
      const here = this.trail[this.trail.length - 1].id;
      this.open(this.trail[this.trail.length - 2].id, here);
    } else if (event.key === 'Home' && this.trail.length > 1) {
      this.open(this.trail[0].id);
    } else {
      return;
    }
    event.preventDefault();
  }

  select(tile, focus) {
    if (this.selected?.node) {
      this.selected.node.classList.remove('selected');
      this.selected.node.tabIndex = -1;
    }
    this.selected = tile;
    tile.node.classList.add('selected');
    tile.node.tabIndex = 0;
    if (focus) tile.node.focus();
    this.showDetails(tile);
  }

  async showDetails(tile) {
    if (tile.rest) {
      this.details.replaceChildren(el('h2', {}, tile.rest.more ? 'More items' : 'Files not listed'),
        el('p', {}, `${bytes(tile.rest.bytes)} in ${tile.rest.more ? 'the items after the first 200' : 'files the scan counted without listing them (below the scan\'s minimum size)'}.`));
      return;
    }
    const { entry } = tile;
    const check = el('p', { className: 'muted' }, 'Checking against the disk…');
    const actions = el('div', { className: 'actions' },
      entry.directory ? el('button', { type: 'button', onclick: () => this.open(entry.id) }, 'Open') : null,
      el('button', { type: 'button', onclick: () => copyPath(entry.path) }, 'Copy path'),
      el('button', { type: 'button', onclick: () => this.app.measure.add(entry.path) }, 'Add to measure'),
      entry.directory ? null : el('button', { type: 'button', onclick: () => this.hash(entry, actions) }, 'Hash'),
      el('button', { type: 'button', className: 'danger', onclick: () => this.app.forget(entry) }, 'Forget from view'));
    this.details.replaceChildren(
      el('h2', {}, entry.name),
      el('dl', {},
        el('dt', {}, 'Path'), el('dd', { className: 'path' }, entry.path),
        el('dt', {}, 'Kind'), el('dd', {}, entry.directory ? 'folder' : categoryOf(entry.name)),
        el('dt', {}, 'Size'), el('dd', {}, `${bytes(entry.size)} (${count(entry.size)} bytes)`),
        el('dt', {}, 'On disk'), el('dd', {}, bytes(entry.allocated)),
        el('dt', {}, 'Modified'), el('dd', {}, modified(entry.modified)),
        el('dt', {}, 'Links'), el('dd', {}, String(entry.links)),
        el('dt', {}, 'Identity'), el('dd', {}, entry.identity)),
      check, actions);
    try {
      await this.app.engine.request('entry', { id: entry.id });
      check.textContent = 'Unchanged on disk since the scan.';
    } catch (error) {
      check.textContent = error.message;
      check.className = 'warning';
    }
  }

  async hash(entry, actions) {
    try {
      const { hash } = await this.app.engine.request('hash', { id: entry.id });
      actions.after(el('p', { className: 'path' }, `BLAKE3 ${hash}`));
    } catch (error) {
      toast(error.message);
    }
  }
}

async function copyPath(path) {
  try {
    await navigator.clipboard.writeText(path);
    toast(`Copied ${path}`);
  } catch {
    toast(path);
  }
}
