// The local HTTP and WebSocket server: the page and its modules over HTTP,
// one engine session per WebSocket on /ws. Every request passes the checks of
// access.js first; anything refused gets 403 and starts nothing.
import { createServer } from 'node:http';
import { homedir } from 'node:os';
import { WebSocketServer } from 'ws';

import { cookieName, refusal } from './access.js';
import { relaySession } from './relay.js';
import { staticFiles } from './static_files.js';

const SECURITY_HEADERS = {
  'Content-Security-Policy':
    "default-src 'none'; script-src 'self'; style-src 'self'; img-src 'self' data:; connect-src 'self'; frame-ancestors 'none'; base-uri 'none'; form-action 'none'",
  'X-Content-Type-Options': 'nosniff',
  'Referrer-Policy': 'no-referrer',
  'Cache-Control': 'no-store',
};

function refuse(response) {
  response.writeHead(403, { 'Content-Type': 'text/plain; charset=utf-8', ...SECURITY_HEADERS });
  response.end('Forbidden\n');
}

// Starts listening on 127.0.0.1. Options: enginePath, token, port (0 picks a
// free one), log (one line of text per call). Resolves to
// { port, url, close() } once the server listens.
export async function startServer({ enginePath, token, port = 0, log = () => {} }) {
  const files = await staticFiles();
  const webSockets = new WebSocketServer({ noServer: true, maxPayload: 64 * 1024 * 1024 });
  let sessions = 0;
  let boundPort = port;

  const server = createServer((request, response) => {
    const url = new URL(request.url, 'http://127.0.0.1');
    const why = refusal(request, url, token, boundPort);
    if (why !== null || request.method !== 'GET') {
      log(`refused ${request.method} ${url.pathname}: ${why ?? 'method not allowed'}`);
      refuse(response);
      return;
    }
    if (url.pathname === '/config.json') {
      response.writeHead(200, { 'Content-Type': 'application/json', ...SECURITY_HEADERS });
      response.end(JSON.stringify({ home: homedir() }));
      return;
    }
    const file = files.get(url.pathname === '/' ? '/index.html' : url.pathname);
    if (!file) {
      response.writeHead(404, { 'Content-Type': 'text/plain; charset=utf-8', ...SECURITY_HEADERS });
      response.end('Not found\n');
      return;
    }
    const headers = { 'Content-Type': file.type, ...SECURITY_HEADERS };
    if (url.pathname === '/') {
      // The page's own modules and its WebSocket are then allowed without the token in their URL.
      headers['Set-Cookie'] = `${cookieName(boundPort)}=${token}; Path=/; HttpOnly; SameSite=Strict`;
    }
    response.writeHead(200, headers);
    response.end(file.body);
  });

  server.on('upgrade', (request, socket, head) => {
    const url = new URL(request.url, 'http://127.0.0.1');
    const why = url.pathname === '/ws' ? refusal(request, url, token, boundPort) : 'no such socket';
    if (why !== null) {
      log(`refused WebSocket ${url.pathname}: ${why}`);
      socket.end('HTTP/1.1 403 Forbidden\r\nConnection: close\r\nContent-Length: 0\r\n\r\n');
      return;
    }
    webSockets.handleUpgrade(request, socket, head, (webSocket) => {
      sessions += 1;
      relaySession(webSocket, enginePath, sessions, log);
    });
  });

  await new Promise((resolve, reject) => {
    server.once('error', reject);
    server.listen(port, '127.0.0.1', resolve);
  });
  boundPort = server.address().port;
  return {
    port: boundPort,
    url: `http://127.0.0.1:${boundPort}/?token=${token}`,
    close() {
      for (const client of webSockets.clients) client.close(1001, 'server stopping');
      return new Promise((resolve) => server.close(resolve));
    },
  };
}
