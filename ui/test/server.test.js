// The server as a process: what it refuses (with 403 and no engine started)
// and how it relays an accepted session.
import assert from 'node:assert/strict';
import { request as httpRequest } from 'node:http';
import { after, before, test } from 'node:test';
import WebSocket from 'ws';

import { ServerProcess, waitFor } from './support/server_process.js';

let server;
before(async () => { server = await ServerProcess.start(); });
after(async () => { await server.stop(); });

// Status of a plain GET with the given path and headers.
function get(path, headers = {}) {
  return new Promise((resolve, reject) => {
    const req = httpRequest({ host: '127.0.0.1', port: server.port, path, headers }, (response) => {
      response.resume();
      resolve(response.statusCode);
    });
    req.on('error', reject);
    req.end();
  });
}

// Status of a WebSocket upgrade: 101 when accepted, else the refusal's status.
function upgrade(path, headers = {}) {
  return new Promise((resolve, reject) => {
    const socket = new WebSocket(`ws://127.0.0.1:${server.port}${path}`, { headers });
    socket.on('open', () => {
      socket.close();
      resolve(101);
    });
    socket.on('unexpected-response', (req, response) => resolve(response.statusCode));
    socket.on('error', reject);
  });
}

function session(headers = {}) {
  const socket = new WebSocket(`ws://127.0.0.1:${server.port}/ws?token=${server.token}`, { headers });
  const lines = [];
  socket.on('message', (data) => lines.push(String(data)));
  return { socket, lines, opened: new Promise((resolve, reject) => { socket.on('open', resolve); socket.on('error', reject); }) };
}

test('the page, its files and its socket are refused with 403 and no engine starts', async () => {
  const token = server.token;
  const foreignHost = { Host: `attacker.example:${server.port}` };
  const cases = [
    ['page without a token', () => get('/')],
    ['page with a wrong token', () => get('/?token=wrong')],
    ['page with a token one character short', () => get(`/?token=${token.slice(1)}`)],
    ['module without a token', () => get('/js/app.js')],
    ['page for a non-loopback Host', () => get(`/?token=${token}`, foreignHost)],
    ['page fetched by a foreign Origin', () => get(`/?token=${token}`, { Origin: 'http://attacker.example' })],
    ['page by POST', () => new Promise((resolve) => {
      const req = httpRequest({ host: '127.0.0.1', port: server.port, path: `/?token=${token}`, method: 'POST' }, (r) => { r.resume(); resolve(r.statusCode); });
      req.end();
    })],
    ['socket without a token', () => upgrade('/ws')],
    ['socket with a wrong token', () => upgrade('/ws?token=wrong')],
    ['socket from a foreign Origin', () => upgrade(`/ws?token=${token}`, { Origin: 'http://attacker.example' })],
    ['socket from a look-alike Origin', () => upgrade(`/ws?token=${token}`, { Origin: `http://127.0.0.1:${server.port}.attacker.example` })],
    ['socket for a non-loopback Host', () => upgrade(`/ws?token=${token}`, foreignHost)],
    ['socket on another path', () => upgrade(`/other?token=${token}`)],
  ];
  for (const [name, attempt] of cases) assert.equal(await attempt(), 403, name);
  assert.deepEqual(server.enginesStarted(), [], 'no engine may start for a refused request');
});

test('the token opens the page, and its cookie opens the modules', async () => {
  assert.equal(await get(`/?token=${server.token}`), 200);
  assert.equal(await get('/js/app.js', { Cookie: `quillmarsh_token_${server.port}=${server.token}` }), 200);
  assert.equal(await get('/vendor/d3-hierarchy.js', { Cookie: `quillmarsh_token_${server.port}=${server.token}` }), 200);
  assert.equal(await get(`/../package.json?token=${server.token}`), 404);
});

test('a session relays lines in order, events before their reply, and its engine ends with the socket', async () => {
  const before = server.enginesStarted().length;
  const { socket, lines, opened } = session({ Origin: `http://127.0.0.1:${server.port}` });
  await opened;
  // Sent back to back: the engine answers in order, duplicates' stage events first.
  socket.send('{"request":1,"command":"summary"}');
  socket.send('{"request":2,"command":"duplicates"}');
  socket.send('{"request":3');
  socket.send('{"request":4,"command":"nope"}');
  await waitFor(() => lines.length >= 6, 'six lines');
  const parsed = lines.map((line) => JSON.parse(line));
  assert.deepEqual(parsed.map((l) => l.event ? `${l.request}:${l.phase}` : l.request ?? 'decode'),
    [1, '2:sampling', '2:hashing', 2, 'decode', 4]);
  assert.equal(parsed[4].error, 'EOF while parsing an object at line 1 column 12');
  // The relay passes the engine's text unchanged.
  assert.equal(lines[0], '{"request":1,"result":{"elapsedMs":0,"entries":0,"errors":0,"generation":0,"limited":false,"mode":"","retained":0,"root":null,"skipped":0}}');

  const engines = server.enginesStarted();
  assert.equal(engines.length, before + 1);
  const pid = engines.at(-1);
  socket.close();
  await waitFor(() => { try { process.kill(pid, 0); return false; } catch { return true; } }, 'the engine to end');
});

test('each session has an engine of its own', async () => {
  const one = session();
  const two = session();
  await Promise.all([one.opened, two.opened]);
  one.socket.send('{"request":1,"command":"scan","args":{"root":"/usr"}}');
  two.socket.send('{"request":1,"command":"summary"}');
  await waitFor(() => two.lines.length === 1, 'the second session\'s reply');
  // The second engine knows nothing of the first one's scan, which may still run.
  assert.equal(JSON.parse(two.lines[0]).result.generation, 0);
  one.socket.close();
  two.socket.close();
});
