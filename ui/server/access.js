// Who may use the server: the checks every HTTP request and WebSocket
// upgrade passes before anything is served or an engine is started.
//
// The server listens on 127.0.0.1 only, but that alone does not keep other
// local users or other web sites out:
// - another local user can connect to the port, so every request carries a
//   random per-run token (in the URL, or in the cookie the page sets);
// - a page of another site can make the browser send requests to 127.0.0.1,
//   or rebind its own name to 127.0.0.1 (DNS rebinding), so the Host header
//   must name the loopback address and an Origin, when the browser sends one,
//   must be this server's own.
import { randomBytes, timingSafeEqual } from 'node:crypto';

const LOOPBACK_NAMES = ['127.0.0.1', 'localhost'];

// A fresh token for one run of the server: 32 random bytes, URL-safe text.
export function newToken() {
  return randomBytes(32).toString('base64url');
}

// True when the Host header names this server on a loopback name with its port.
export function hostAllowed(host, port) {
  if (typeof host !== 'string') return false;
  return LOOPBACK_NAMES.some((name) => host === `${name}:${port}`);
}

// True when the Origin header is absent (a non-browser client, which still
// needs the token) or is this server's own origin.
export function originAllowed(origin, port) {
  if (origin === undefined) return true;
  return LOOPBACK_NAMES.some((name) => origin === `http://${name}:${port}`);
}

// Compares two texts in time that does not depend on where they differ.
export function tokenMatches(given, token) {
  if (typeof given !== 'string') return false;
  const a = Buffer.from(given);
  const b = Buffer.from(token);
  return a.length === b.length && timingSafeEqual(a, b);
}

// The name of the cookie that carries the token; cookies are shared by all
// ports of a host, so the port is part of the name.
export function cookieName(port) {
  return `quillmarsh_token_${port}`;
}

// The token a request presents: the "token" query parameter, else the cookie.
export function presentedToken(url, cookieHeader, port) {
  const fromQuery = url.searchParams.get('token');
  if (fromQuery !== null) return fromQuery;
  const wanted = cookieName(port);
  for (const part of (cookieHeader ?? '').split(';')) {
    const eq = part.indexOf('=');
    if (eq > 0 && part.slice(0, eq).trim() === wanted) return part.slice(eq + 1).trim();
  }
  return undefined;
}

// The whole check: Host, Origin and token. Returns null when the request may
// go on, else a short reason for the server's log.
export function refusal(request, url, token, port) {
  if (!hostAllowed(request.headers.host, port)) return 'host not allowed';
  if (!originAllowed(request.headers.origin, port)) return 'origin not allowed';
  if (!tokenMatches(presentedToken(url, request.headers.cookie, port), token)) return 'wrong or missing token';
  return null;
}
