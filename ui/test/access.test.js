// Who the server lets in: Host, Origin and token rules, case by case.
import assert from 'node:assert/strict';
import { test } from 'node:test';

import { cookieName, hostAllowed, originAllowed, presentedToken, refusal, tokenMatches } from '../server/access.js';

const PORT = 4321;
const TOKEN = 'secret-token';

test('Host must name the loopback address with the server port', () => {
  const cases = [
    ['127.0.0.1:4321', true],
    ['localhost:4321', true],
    ['127.0.0.1', false],
    ['127.0.0.1:4322', false],
    ['evil.example:4321', false],
    ['127.0.0.1.evil.example:4321', false],
    ['[::1]:4321', false],
    ['LOCALHOST:4321x', false],
    [undefined, false],
  ];
  for (const [host, allowed] of cases) assert.equal(hostAllowed(host, PORT), allowed, String(host));
});

test('Origin, when sent, must be the server itself', () => {
  const cases = [
    [undefined, true],
    ['http://127.0.0.1:4321', true],
    ['http://localhost:4321', true],
    ['https://127.0.0.1:4321', false],
    ['http://127.0.0.1:80', false],
    ['http://evil.example', false],
    ['null', false],
  ];
  for (const [origin, allowed] of cases) assert.equal(originAllowed(origin, PORT), allowed, String(origin));
});

test('the token comes from the query, else from the port-specific cookie, and must match exactly', () => {
  const url = (query) => new URL(`http://127.0.0.1:${PORT}/${query}`);
  assert.equal(presentedToken(url('?token=abc'), `${cookieName(PORT)}=zzz`, PORT), 'abc');
  assert.equal(presentedToken(url(''), `other=1; ${cookieName(PORT)}=zzz`, PORT), 'zzz');
  assert.equal(presentedToken(url(''), `${cookieName(PORT + 1)}=zzz`, PORT), undefined);
  assert.equal(presentedToken(url(''), undefined, PORT), undefined);
  assert.ok(tokenMatches(TOKEN, TOKEN));
  for (const wrong of ['', 'secret-toke', 'secret-tokens', 'SECRET-TOKEN', undefined]) {
    assert.equal(tokenMatches(wrong, TOKEN), false, String(wrong));
  }
});

test('refusal names the first failed check and passes a request that meets all three', () => {
  const request = (headers) => ({ headers: { host: `127.0.0.1:${PORT}`, ...headers } });
  const good = new URL(`http://127.0.0.1:${PORT}/?token=${TOKEN}`);
  const bad = new URL(`http://127.0.0.1:${PORT}/?token=nope`);
  assert.equal(refusal(request({}), good, TOKEN, PORT), null);
  assert.equal(refusal(request({ origin: `http://localhost:${PORT}` }), good, TOKEN, PORT), null);
  assert.equal(refusal(request({ host: 'evil.example' }), good, TOKEN, PORT), 'host not allowed');
  assert.equal(refusal(request({ origin: 'http://evil.example' }), good, TOKEN, PORT), 'origin not allowed');
  assert.equal(refusal(request({}), bad, TOKEN, PORT), 'wrong or missing token');
});
