// One browser session: one engine child process, relayed over one WebSocket.
//
// Each text message from the page is written to the engine's standard input
// as one line; each line the engine writes (replies and progress events) is
// sent to the page as one text message, in the order written. Lines are never
// parsed or rewritten. Closing the socket ends the engine: that is how the
// page cancels a running scan.
import { spawn } from 'node:child_process';

// Stop reading the engine while this many bytes wait to go to the browser.
const HIGH_WATER = 8 * 1024 * 1024;
// How long a stopped engine may take to exit before it is killed outright.
const KILL_AFTER_MS = 2000;

// Splits a byte stream into lines (without their line feeds).
export class LineSplitter {
  constructor(onLine) {
    this.onLine = onLine;
    this.pending = [];
  }

  push(chunk) {
    let start = 0;
    for (let nl = chunk.indexOf(0x0a); nl !== -1; nl = chunk.indexOf(0x0a, start)) {
      this.pending.push(chunk.subarray(start, nl));
      this.onLine(Buffer.concat(this.pending).toString('utf8'));
      this.pending = [];
      start = nl + 1;
    }
    if (start < chunk.length) this.pending.push(chunk.subarray(start));
  }
}

// Starts the engine for one accepted WebSocket and relays until either ends.
// log(text) reports session start and end for the server's console.
export function relaySession(socket, enginePath, sessionNumber, log) {
  let engine;
  try {
    engine = spawn(enginePath, [], { stdio: ['pipe', 'pipe', 'inherit'] });
  } catch (error) {
    log(`session ${sessionNumber}: engine could not start: ${error.message}`);
    socket.close(1011, 'engine could not start');
    return;
  }
  let exited = false;
  engine.once('spawn', () => log(`session ${sessionNumber}: engine pid ${engine.pid} started`));

  let unsent = 0;
  const splitter = new LineSplitter((line) => {
    if (socket.readyState !== socket.OPEN) return;
    const bytes = Buffer.byteLength(line);
    unsent += bytes;
    if (unsent > HIGH_WATER) engine.stdout.pause();
    socket.send(line, () => {
      unsent -= bytes;
      if (unsent <= HIGH_WATER / 2) engine.stdout.resume();
    });
  });
  engine.stdout.on('data', (chunk) => splitter.push(chunk));
  // A write to an engine that just ended fails with EPIPE; the exit handler reports it.
  engine.stdin.on('error', () => {});

  engine.on('error', (error) => {
    log(`session ${sessionNumber}: engine could not start: ${error.message}`);
    exited = true;
    socket.close(1011, 'engine could not start');
  });
  engine.on('exit', (code, signal) => {
    exited = true;
    log(`session ${sessionNumber}: engine ended (${signal ?? `status ${code}`})`);
    if (socket.readyState === socket.OPEN) socket.close(1011, 'engine ended');
  });

  socket.on('message', (data, isBinary) => {
    if (isBinary) {
      socket.close(1003, 'text lines only');
      return;
    }
    if (!exited) engine.stdin.write(Buffer.concat([Buffer.from(data), Buffer.from('\n')]));
  });
  socket.on('close', () => {
    if (exited) return;
    engine.stdin.end();
    // A scan in progress does not read its input, so end the process itself.
    engine.kill('SIGTERM');
    const killer = setTimeout(() => engine.kill('SIGKILL'), KILL_AFTER_MS);
    engine.once('exit', () => clearTimeout(killer));
  });
}
