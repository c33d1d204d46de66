// The page in a real browser against a real engine, used as a person would:
// scan a tree made here, read the treemap, zoom in and out, search the
// largest files, find a duplicate pair, end one process from the system view,
// measure and forget. Every line exchanged is checked against schema/.
// Screenshots go to ui/test-artifacts/.
import assert from 'node:assert/strict';
import { spawn } from 'node:child_process';
import { randomBytes } from 'node:crypto';
import { mkdirSync, mkdtempSync, rmSync, writeFileSync } from 'node:fs';
import { tmpdir } from 'node:os';
import { dirname, join } from 'node:path';
import { fileURLToPath } from 'node:url';
import { after, before, test } from 'node:test';

import { launchBrowser } from './support/browser.js';
import { protocolValidator } from './support/protocol_schema.js';
import { ServerProcess, waitFor } from './support/server_process.js';

const artifacts = join(dirname(fileURLToPath(import.meta.url)), '..', 'test-artifacts');

// The fixture: top-level children and their sizes. Contents are random, so the
// only identical files are photos/a.jpg and docs/a-copy.jpg.
const TREE = {
  'videos/movie.mp4': 3_000_000,
  'videos/clip.mov': 1_000_000,
  'big.iso': 2_500_000,
  'photos/a.jpg': 800_000,
  'docs/report.pdf': 500_000,
  'notes.txt': 100_000,
};
const TOP = { videos: 4_000_000, 'big.iso': 2_500_000, docs: 1_300_000, photos: 800_000, 'notes.txt': 100_000 };

let root;
let server;
let browser;
let page;
const frames = { sent: [], received: [] };

function makeTree() {
  const dir = mkdtempSync(join(tmpdir(), 'quillmarsh-ui-'));
  const made = {};
  for (const [path, size] of Object.entries(TREE)) {
    mkdirSync(dirname(join(dir, path)), { recursive: true });
    made[path] = randomBytes(size);
    writeFileSync(join(dir, path), made[path]);
  }
  writeFileSync(join(dir, 'docs/a-copy.jpg'), made['photos/a.jpg']);
  return dir;
}

async function shot(name) {
  mkdirSync(artifacts, { recursive: true });
  await page.screenshot({ path: join(artifacts, `${name}.png`) });
}

// The top-level tiles as drawn: name, kind, size and rectangle.
function tiles() {
  return page.$$eval('#treemap > .tile', (nodes) => nodes.map((node) => {
    const r = node.getBoundingClientRect();
    return { name: node.dataset.name, kind: node.dataset.kind, size: Number(node.dataset.size), id: node.dataset.id, area: r.width * r.height };
  }));
}

// The top-level tiles once the drawing has settled: the expected names, every
// tile with an area, and the same rectangles in two looks 200 ms apart (a
// resize of the box redraws it 150 ms later). A timeout names what was drawn.
async function settledTiles(sizes) {
  const want = JSON.stringify(Object.keys(sizes).sort());
  let before = '';
  let drawn = [];
  const settled = async () => {
    drawn = await tiles();
    const now = JSON.stringify(drawn);
    const done = now === before && JSON.stringify(drawn.map((t) => t.name).sort()) === want
      && drawn.every((t) => t.area > 0);
    before = now;
    if (!done) await page.waitForTimeout(200);
    return done;
  };
  try {
    await waitFor(settled, 'the treemap to settle');
  } catch (error) {
    const box = await page.$eval('#treemap', (node) => {
      const r = node.getBoundingClientRect();
      return { width: r.width, height: r.height, hidden: node.closest('.view').hidden };
    });
    error.message += ` with ${want}; box ${JSON.stringify(box)}; drawn ${JSON.stringify(drawn)}`;
    throw error;
  }
  return drawn;
}

// Each tile's share of the drawn area must match its share of the bytes;
// the 2-pixel gaps between tiles cost small tiles a little of theirs.
function assertAreasMatch(drawn, sizes) {
  assert.deepEqual(drawn.map((t) => t.name).sort(), Object.keys(sizes).sort());
  const totalArea = drawn.reduce((sum, t) => sum + t.area, 0);
  const totalSize = Object.values(sizes).reduce((a, b) => a + b, 0);
  for (const tile of drawn) {
    assert.equal(tile.size, sizes[tile.name], `${tile.name} size`);
    const expected = sizes[tile.name] / totalSize;
    const actual = tile.area / totalArea;
    assert.ok(Math.abs(actual - expected) <= 0.005 + 0.05 * expected, `${tile.name}: area share ${actual.toFixed(4)}, size share ${expected.toFixed(4)}`);
  }
}

async function crumbs() {
  return page.$$eval('#breadcrumbs > *', (nodes) => nodes.map((n) => n.firstChild.textContent));
}

before(async () => {
  root = makeTree();
  server = await ServerProcess.start();
  browser = await launchBrowser();
  page = await browser.context.newPage();
  page.on('pageerror', (error) => { throw error; });
  page.on('websocket', (socket) => {
    socket.on('framesent', (frame) => frames.sent.push(String(frame.payload)));
    socket.on('framereceived', (frame) => frames.received.push(String(frame.payload)));
  });
  await page.goto(server.url.href);
  await page.waitForFunction(() => document.getElementById('scan-text').textContent.startsWith('Ready'));
});

after(async () => {
  await browser?.close();
  await server?.stop();
  if (root) rmSync(root, { recursive: true, force: true });
});

test('a scan draws the treemap with one tile per child, each with its share of the area', async () => {
  await page.fill('#scan-root', root);
  await page.click('#scan-start');
  await page.waitForSelector('#treemap > .tile[data-name="videos"]');
  assert.match(await page.textContent('#scan-text'), /11 entries met, 11 indexed, 0 unreadable/);
  assertAreasMatch(await settledTiles(TOP), TOP);
  // The two largest directories are drawn with their children inside.
  await page.waitForSelector('#treemap > .tile[data-name="videos"] .nested .inner');
  assert.equal(await page.$$eval('#treemap > .tile[data-name="videos"] .inner', (n) => n.length), 2);
  assert.deepEqual(await crumbs(), [root]);
  await shot('treemap');
});

test('zooming into a folder by double-click and by keyboard, and back out', async () => {
  await page.dblclick('#treemap > .tile[data-name="videos"]');
  await page.waitForSelector('#treemap > .tile[data-name="movie.mp4"]');
  const videos = { 'movie.mp4': 3_000_000, 'clip.mov': 1_000_000 };
  assertAreasMatch(await settledTiles(videos), videos);
  assert.deepEqual(await crumbs(), [root, 'videos']);
  await shot('treemap-zoomed');

  // Backspace goes up and keeps the folder it came from selected.
  await page.keyboard.press('Backspace');
  await page.waitForSelector('#treemap > .tile.selected[data-name="videos"]');
  assert.deepEqual(await crumbs(), [root]);
  // The details pane shows the selection, checked against the disk.
  await page.waitForSelector('#details >> text=Unchanged on disk since the scan.');
  assert.equal(await page.textContent('#details h2'), 'videos');

  // Arrows move the selection between tiles; Enter opens a folder.
  const visited = new Set();
  for (const key of ['ArrowRight', 'ArrowDown', 'ArrowLeft', 'ArrowUp']) {
    await page.keyboard.press(key);
    visited.add(await page.$eval('#treemap > .tile.selected', (n) => n.dataset.name));
  }
  assert.ok(visited.size >= 2, `arrows moved the selection: ${[...visited]}`);
  await page.click('#treemap > .tile[data-name="docs"]');
  // A resize redraws the map and keeps the selection and the keyboard focus.
  const wide = await settledTiles(TOP);
  await page.setViewportSize({ width: 1000, height: 640 });
  await waitFor(async () => (await tiles())[0]?.area < wide[0].area, 'the redraw at the smaller size');
  assertAreasMatch(await settledTiles(TOP), TOP);
  assert.equal(await page.$eval('#treemap > .tile.selected', (n) => n.dataset.name), 'docs');
  await page.setViewportSize({ width: 1280, height: 800 });
  await page.keyboard.press('Enter');
  await page.waitForSelector('#treemap > .tile[data-name="report.pdf"]');
  assert.deepEqual(await crumbs(), [root, 'docs']);
  await page.click('#breadcrumbs button');
  await page.waitForSelector('#treemap > .tile[data-name="videos"]');
});

test('largest files: search ignores case, the category counts follow it, pages hold the list', async () => {
  await page.click('[data-view=large]');
  await page.selectOption('#large-minimum', '0');
  await page.waitForFunction(() => document.querySelectorAll('#large-table tbody tr').length === 7);
  // Largest first; the two 800 kB copies come in index order.
  const names = await page.$$eval('#large-table tbody tr td:first-child', (n) => n.map((c) => c.textContent));
  assert.deepEqual([...names.slice(0, 3), ...names.slice(3, 5).sort(), ...names.slice(5)],
    ['movie.mp4', 'big.iso', 'clip.mov', 'a-copy.jpg', 'a.jpg', 'report.pdf', 'notes.txt']);

  await page.fill('#large-search', 'MOVIE');
  await page.waitForFunction(() => document.querySelectorAll('#large-table tbody tr').length === 1);
  assert.equal(await page.textContent('#large-table tbody tr td:first-child'), 'movie.mp4');
  assert.equal(await page.textContent('#large-count'), '1–1 of 1 files');
  assert.match(await page.$eval('#large-category option[value=video]', (o) => o.textContent), /video \(1\)/);
  await shot('large');

  await page.fill('#large-search', '.jpg');
  await page.waitForFunction(() => document.querySelectorAll('#large-table tbody tr').length === 2);
  await page.selectOption('#large-category', 'video');
  await page.waitForFunction(() => document.getElementById('large-count').textContent === 'No files match.');
  await page.selectOption('#large-category', 'all');
  await page.fill('#large-search', '');
});

test('duplicates: both hashing stages report progress and the copied photo forms the one group', async () => {
  await page.click('[data-view=duplicates]');
  await page.click('#duplicates-start');
  await page.waitForSelector('#duplicates-groups .group');
  assert.equal(await page.$$eval('#duplicates-groups .group', (n) => n.length), 1);
  const paths = await page.$$eval('#duplicates-groups .group .path', (n) => n.map((p) => p.textContent).sort());
  assert.deepEqual(paths, [join(root, 'docs/a-copy.jpg'), join(root, 'photos/a.jpg')]);
  assert.match(await page.textContent('#duplicates-summary'), /^1 groups of identical files; 8\d\d KB reclaimable/);
  assert.equal(await page.textContent('.stage[data-phase=hashing] .stage-text'), '2 / 2 files');
  await shot('duplicates');
});

test('system: ending a process the test started, after confirming, ends only that one', async () => {
  // Two idle processes that hold 64 MB each, so they rank among the 200 largest.
  const hold = 'const b = Buffer.alloc(64 << 20, 1); setInterval(() => b[0]++, 1000);';
  const target = spawn(process.execPath, ['-e', hold], { stdio: 'ignore' });
  const bystander = spawn(process.execPath, ['-e', hold], { stdio: 'ignore' });
  const targetExit = new Promise((resolve) => target.once('exit', (code, signal) => resolve(signal)));
  try {
    await page.click('[data-view=system]');
    await page.waitForSelector('#system-volumes tbody tr');
    // Refresh until the snapshot shows the target (its memory must be resident first).
    await waitFor(async () => {
      if (await page.$(`#system-processes tr[data-pid="${target.pid}"]`)) return true;
      if (await page.isEnabled('#system-refresh')) await page.click('#system-refresh');
      return false;
    }, 'the target process in the list', 30000);
    assert.match(await page.textContent('#system-memory-text'), / in use$/);
    await page.fill('#system-filter', String(target.pid));
    await shot('system');

    // Cancelling the dialog sends nothing.
    await page.click(`#system-processes tr[data-pid="${target.pid}"] button`);
    assert.equal(await page.textContent('#terminate-pid'), String(target.pid));
    await page.click('#terminate-dialog button[value=cancel]');
    await page.waitForTimeout(300);
    assert.equal(target.exitCode, null);
    assert.equal(target.signalCode, null);

    await page.click(`#system-processes tr[data-pid="${target.pid}"] button`);
    await page.click('#terminate-confirm');
    assert.equal(await targetExit, 'SIGTERM');
    await page.waitForSelector(`#toast >> text=(${target.pid}) has ended.`);
    assert.doesNotThrow(() => process.kill(bystander.pid, 0), 'the other process still runs');
  } finally {
    target.kill('SIGKILL');
    bystander.kill('SIGKILL');
  }
});

test('measure and forget: a measured folder, then a file taken out of the view', async () => {
  await page.click('[data-view=measure]');
  await page.fill('#measure-paths', `${join(root, 'videos')}\n${join(root, 'missing')}`);
  await page.click('#measure-start');
  await page.waitForFunction(() => document.querySelectorAll('#measure-table tbody tr').length === 2);
  const cells = await page.$$eval('#measure-table tbody tr', (rows) => rows.map((r) => [...r.children].map((c) => c.textContent)));
  assert.equal(cells[0][0], join(root, 'videos'));
  assert.match(cells[0][1], /^4\.0 MB$/);
  assert.deepEqual(cells[1].slice(1), ['0 B', '1']);

  // "Forget" asks first; the file leaves the treemap and its size leaves the totals.
  page.once('dialog', (dialog) => dialog.accept());
  await page.click('[data-view=treemap]');
  await page.click('#treemap > .tile[data-name="notes.txt"]');
  await page.click('#details button.danger');
  await page.waitForFunction(() => !document.querySelector('#treemap > .tile[data-name="notes.txt"]'));
  const { 'notes.txt': _, ...rest } = TOP;
  // A resize of the box (the view was hidden a moment ago) redraws it once
  // more; the layout is checked once it has settled.
  assertAreasMatch(await settledTiles(rest), rest);
});

test('every line the page and the engine exchanged matches the protocol schema', async () => {
  // The page may still be waiting for a reply (a details check, a nested folder).
  const replies = () => frames.received.filter((text) => JSON.parse(text).event === undefined).length;
  await waitFor(() => replies() === frames.sent.length, 'the last replies');
  const { problems, counts } = protocolValidator()(frames.sent, frames.received);
  assert.deepEqual(problems, []);
  assert.ok(counts.replies > 20 && counts.events >= 4, JSON.stringify(counts));
  assert.equal(counts.replies, counts.requests, 'one reply per request');
});
