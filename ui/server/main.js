#!/usr/bin/env node
// Starts the quillmarsh web front end on 127.0.0.1 and prints the URL to open.
//
//   node server/main.js [--port N] [--engine PATH]
//
// --port 0 (the default) picks a free port. The engine defaults to the
// repository's optimised build, build/quillmarsh. The printed URL carries this
// run's token; without it every request is refused.
import { existsSync } from 'node:fs';
import { dirname, join, resolve } from 'node:path';
import { fileURLToPath } from 'node:url';
import { parseArgs } from 'node:util';

import { newToken } from './access.js';
import { startServer } from './server.js';

const repository = join(dirname(fileURLToPath(import.meta.url)), '..', '..');
const { values } = parseArgs({
  options: {
    port: { type: 'string', default: process.env.QUILLMARSH_UI_PORT ?? '0' },
    engine: { type: 'string', default: join(repository, 'build', 'quillmarsh') },
  },
});

const port = Number(values.port);
if (!Number.isInteger(port) || port < 0 || port > 65535) {
  console.error(`not a port: ${values.port}`);
  process.exit(2);
}
const enginePath = resolve(values.engine);
if (!existsSync(enginePath)) {
  console.error(`no engine at ${enginePath} (build it with scripts/ui.sh, or pass --engine)`);
  process.exit(2);
}

const log = (text) => console.log(`[${new Date().toISOString()}] ${text}`);
const server = await startServer({ enginePath, token: newToken(), port, log });
console.log(`quillmarsh UI: open ${server.url}`);

for (const signal of ['SIGINT', 'SIGTERM']) {
  process.on(signal, async () => {
    await server.close();
    process.exit(0);
  });
}
