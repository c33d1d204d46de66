// How the page copes with a big index: scans a tree through the page in
// headless Chromium and prints the scan time, the time from the scan's reply
// to the treemap drawn (first level, and with the nested folders), the time of
// a zoom, of a large-files search and of a page turn, and the long tasks
// (main-thread blocks over 50 ms) seen meanwhile. Asserts nothing.
//
//   node bench/responsiveness.js [tree, default /work/trees/wide] [screenshot.png]
import { launchBrowser } from '../test/support/browser.js';
import { ServerProcess } from '../test/support/server_process.js';

const tree = process.argv[2] ?? '/work/trees/wide';
const screenshot = process.argv[3];

const server = await ServerProcess.start();
const browser = await launchBrowser();
try {
  const page = await browser.context.newPage();
  await page.addInitScript(() => {
    window.longTasks = [];
    new PerformanceObserver((list) => window.longTasks.push(...list.getEntries().map((e) => e.duration)))
      .observe({ type: 'longtask', buffered: true });
  });
  await page.goto(server.url.href);
  await page.waitForFunction(() => document.getElementById('scan-text').textContent.startsWith('Ready'));
  await page.fill('#scan-root', tree);
  await page.click('#scan-start');
  await page.waitForFunction(() => window.quillmarsh.timings.treemapAfterReplyMs !== undefined, null, { timeout: 600000 });
  await page.waitForFunction(() => window.quillmarsh.timings.nestedDrawnAt !== undefined);
  const timings = await page.evaluate(() => window.quillmarsh.timings);
  const summary = await page.textContent('#scan-text');

  const timed = async (action, done) => {
    const start = Date.now();
    await action();
    await page.waitForFunction(done, null, { timeout: 60000 });
    return Date.now() - start;
  };
  const tiles = await page.$$eval('#treemap > .tile', (n) => n.length);
  const zoomMs = await timed(
    () => page.dblclick('#treemap > .tile.directory'),
    () => document.querySelectorAll('#breadcrumbs > *').length === 2 && document.querySelector('#treemap > .tile'));
  await page.keyboard.press('Backspace');
  await page.click('[data-view=large]');
  const allMs = await timed(() => page.selectOption('#large-minimum', '0'),
    () => /of [\d,]+ files/.test(document.getElementById('large-count').textContent)
      && document.getElementById('large-minimum').value === '0' && !/ of [\d,]{1,3} files/.test(document.getElementById('large-count').textContent));
  const unfiltered = await page.textContent('#large-count');
  // Typed as a person types; the page waits 200 ms after the last key.
  const searchMs = await timed(() => page.type('#large-search', 'e1', { delay: 50 }),
    (text) => document.getElementById('large-count').textContent !== text, unfiltered);
  const before = await page.textContent('#large-count');
  const pageMs = await timed(() => page.click('#large-next'),
    (text) => document.getElementById('large-count').textContent !== text, before);
  await page.click('[data-view=treemap]');
  if (screenshot) {
    await page.waitForTimeout(500);
    await page.screenshot({ path: screenshot });
  }
  const longTasks = await page.evaluate(() => window.longTasks);

  console.log(summary);
  console.log(`scan request to reply:              ${timings.scanMs.toFixed(0)} ms`);
  console.log(`scan reply to treemap drawn:        ${timings.treemapAfterReplyMs.toFixed(0)} ms (${tiles} tiles)`);
  console.log(`scan reply to nested folders drawn: ${(timings.nestedDrawnAt - timings.replyAt).toFixed(0)} ms`);
  console.log(`zoom into the largest folder:       ${zoomMs} ms`);
  console.log(`largest files, any size:            ${allMs} ms (${unfiltered})`);
  console.log(`largest files, type "e1" to list:   ${searchMs} ms (${before}; includes the 200 ms typing pause)`);
  console.log(`largest files, next page:           ${pageMs} ms`);
  console.log(`long tasks: ${longTasks.length}, longest ${Math.max(0, ...longTasks).toFixed(0)} ms, total ${longTasks.reduce((a, b) => a + b, 0).toFixed(0)} ms`);
} finally {
  await browser.close();
  await server.stop();
}
