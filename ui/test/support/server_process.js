// The UI server as a child process, as a person starts it: its printed URL
// and its log lines, and conditions to wait for in them.
import { spawn } from 'node:child_process';
import { once } from 'node:events';
import { dirname, join } from 'node:path';
import { fileURLToPath } from 'node:url';

const ui = join(dirname(fileURLToPath(import.meta.url)), '..', '..');

// The engine the tests drive: QUILLMARSH_ENGINE, else the optimised build.
export const enginePath = process.env.QUILLMARSH_ENGINE ?? join(ui, '..', 'build', 'quillmarsh');

// Polls check() every 20 ms until it returns a truthy value; fails after timeoutMs.
export async function waitFor(check, what, timeoutMs = 10000) {
  const deadline = Date.now() + timeoutMs;
  for (;;) {
    const value = await check();
    if (value) return value;
    if (Date.now() > deadline) throw new Error(`timed out waiting for ${what}`);
    await new Promise((resolve) => setTimeout(resolve, 20));
  }
}

export class ServerProcess {
  static async start() {
    const server = new ServerProcess();
    server.child = spawn(process.execPath, [join(ui, 'server', 'main.js'), '--port', '0', '--engine', enginePath],
      { stdio: ['ignore', 'pipe', 'inherit'] });
    server.lines = [];
    let partial = '';
    server.child.stdout.on('data', (chunk) => {
      const parts = (partial + chunk).split('\n');
      partial = parts.pop();
      server.lines.push(...parts);
    });
    const line = await waitFor(() => server.lines.find((l) => l.includes('open http')), 'the server URL');
    server.url = new URL(/open (\S+)/.exec(line)[1]);
    server.token = server.url.searchParams.get('token');
    server.port = Number(server.url.port);
    return server;
  }

  // Engine processes the server has started so far (from its log).
  enginesStarted() {
    return this.lines.filter((l) => / engine pid \d+ started/.test(l)).map((l) => Number(/pid (\d+)/.exec(l)[1]));
  }

  async stop() {
    if (this.child.exitCode !== null) return;
    this.child.kill('SIGTERM');
    await once(this.child, 'exit');
  }
}
