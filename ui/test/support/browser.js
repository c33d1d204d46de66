// Debian's Chromium, driven by playwright-core: no browser is downloaded.
import { mkdtempSync, rmSync } from 'node:fs';
import { tmpdir } from 'node:os';
import { join } from 'node:path';
import { chromium } from 'playwright-core';

// Flags for a headless run as root on a closed network: without the
// background-networking ones Chromium keeps opening connections that fail.
const FLAGS = ['--headless', '--no-sandbox', '--disable-gpu', '--disable-quic', '--no-first-run',
  '--disable-background-networking', '--disable-component-update', '--disable-sync'];

export async function launchBrowser() {
  const profile = mkdtempSync(join(tmpdir(), 'quillmarsh-chromium-'));
  const context = await chromium.launchPersistentContext(profile, {
    executablePath: process.env.CHROMIUM ?? '/usr/bin/chromium',
    args: FLAGS,
    viewport: { width: 1280, height: 800 },
  });
  return {
    context,
    async close() {
      await context.close();
      rmSync(profile, { recursive: true, force: true });
    },
  };
}
