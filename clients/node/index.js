// Speech to text on this machine, through the quorvane-dictation executable.
//
//   import { listen } from 'quorvane-dictation';
//   const session = listen({ locale: 'en-US' });
//   session.on('partial', (text) => console.log(text));
//   session.stop();                        // later; then
//   console.log(await session.finalText());

import { spawn } from 'node:child_process';
import { EventEmitter } from 'node:events';
import { accessSync, constants } from 'node:fs';
import { delimiter, join } from 'node:path';
import { createInterface } from 'node:readline';

export const EXECUTABLE = 'quorvane-dictation';
// Codes of this library's own, beside those of the program's "error" message.
export const PROTOCOL_ERROR = 'protocol_error'; // a line that is no message, or an early end
export const SPAWN_FAILED = 'spawn_failed'; // the executable could not be started

const MESSAGE_KEYS = {
  status: ['speech', 'microphone', 'engine'],
  ready: ['engine'],
  partial: ['text'],
  final: ['text'],
  done: [],
  cancelled: [],
  error: ['code'],
};
const TERMINAL = new Set(['done', 'cancelled', 'error']);

export class DictationError extends Error {
  constructor(code, detail) {
    super(detail ? `${code}: ${detail}` : code);
    this.name = 'DictationError';
    this.code = code;
  }
}

export class CancelledError extends Error {
  constructor() {
    super('cancelled');
    this.name = 'CancelledError';
  }
}

/** The path to run: `executable` if given, else quorvane-dictation on PATH, else null. */
export function findExecutable(executable) {
  if (executable) return executable;
  for (const dir of (process.env.PATH ?? '').split(delimiter)) {
    if (!dir) continue;
    try {
      accessSync(join(dir, EXECUTABLE), constants.X_OK);
      return join(dir, EXECUTABLE);
    } catch {
      // not here
    }
  }
  return null;
}

/**
 * The message on one line. Null for a message of an unknown type, which a
 * newer program may write; throws DictationError(PROTOCOL_ERROR) for
 * anything else that is not a message.
 */
export function parseLine(line) {
  let message;
  try {
    message = JSON.parse(line);
  } catch {
    throw new DictationError(PROTOCOL_ERROR, `not JSON: ${line}`);
  }
  if (message === null || typeof message !== 'object' || typeof message.type !== 'string') {
    throw new DictationError(PROTOCOL_ERROR, `not a message: ${line}`);
  }
  const keys = MESSAGE_KEYS[message.type];
  if (!keys) return null;
  if (!keys.every((key) => typeof message[key] === 'string')) {
    throw new DictationError(PROTOCOL_ERROR, `missing keys: ${line}`);
  }
  return message;
}

function start(args, { executable, env }, stdin) {
  const path = findExecutable(executable);
  if (!path) return new DictationError(SPAWN_FAILED, `${EXECUTABLE} is not on PATH`);
  // A session of its own: a terminal's Ctrl-C reaches the host alone, which
  // decides what to do; the program still ends when its input closes.
  return spawn(path, args, { stdio: [stdin, 'pipe', 'ignore'], env: env ?? process.env, detached: true });
}

function runOnce(command, options = {}) {
  return new Promise((resolve, reject) => {
    const child = start([command], options, 'ignore');
    if (child instanceof Error) return reject(child);
    let output = '';
    child.stdout.setEncoding('utf8').on('data', (chunk) => (output += chunk));
    child.on('error', (error) => reject(new DictationError(SPAWN_FAILED, error.message)));
    child.on('close', () => {
      try {
        const lines = output.split('\n').filter((line) => line !== '');
        const message = lines.length === 1 ? parseLine(lines[0]) : null;
        if (message?.type === 'error') throw new DictationError(message.code);
        if (message?.type !== 'status') {
          throw new DictationError(PROTOCOL_ERROR, `not one status line: ${output}`);
        }
        const { speech, microphone, engine } = message;
        resolve({ speech, microphone, engine });
      } catch (error) {
        reject(error);
      }
    });
  });
}

/** Resolves to { speech, microphone, engine }: the authorization states. */
export const status = (options) => runOnce('status', options);

/** Asks the user for what is undecided, then resolves to the states. */
export const authorize = (options) => runOnce('authorize', options);

/**
 * Starts listening. Events: 'ready', 'partial' (text), 'final' (text),
 * 'done', 'cancelled', 'error' (DictationError with `code`), and last
 * 'exit' (code, signal). As with any EventEmitter, an 'error' nobody
 * listens for throws; finalText() listens for it.
 */
export function listen({ locale, executable, env } = {}) {
  return new Session(locale ? ['listen', locale] : ['listen'], { executable, env });
}

export class Session extends EventEmitter {
  #child = null;
  #ended = false; // a last message (or our own error) was emitted
  #outcome = null;
  transcript = ''; // the latest partial or final text
  finalTextValue = null;
  exited = false;
  exitCode = null;

  constructor(args, options) {
    super();
    const child = start(args, options, 'pipe');
    if (child instanceof Error) {
      process.nextTick(() => this.#finish(child, null, null));
      return;
    }
    this.#child = child;
    let spawnError = null;
    let open = 2; // stdout read to its end, and the process gone
    const closed = (code, signal) => {
      if (--open === 0 || spawnError) this.#finish(spawnError, code, signal);
    };
    child.on('error', (error) => {
      if (child.pid === undefined) {
        spawnError = new DictationError(SPAWN_FAILED, error.message);
      }
    });
    child.stdin.on('error', () => {}); // EPIPE: the process has ended
    createInterface({ input: child.stdout, crlfDelay: Infinity })
      .on('line', (line) => this.#onLine(line))
      .on('close', () => closed());
    child.on('close', (code, signal) => {
      this.exitCode = code;
      closed(code, signal);
    });
  }

  #onLine(line) {
    if (this.#ended) return; // nothing may follow the last message
    let message;
    try {
      message = parseLine(line);
    } catch (error) {
      this.#child.stdin.end(); // end of input cancels the run
      this.#deliver('error', error);
      return;
    }
    if (!message) return;
    const { type } = message;
    if (type === 'partial' || type === 'final') this.transcript = message.text;
    if (type === 'final') this.finalTextValue = message.text;
    if (type === 'error') this.#deliver('error', new DictationError(message.code));
    else this.#deliver(type, message.text);
  }

  #deliver(type, value) {
    if (TERMINAL.has(type)) {
      this.#ended = true;
      this.#outcome = { type, value };
    }
    if (value === undefined) this.emit(type);
    else this.emit(type, value);
  }

  #finish(error, code, signal) {
    if (this.exited) return;
    this.#child?.stdin.destroy();
    if (!this.#ended) {
      this.#deliver('error', error ?? new DictationError(PROTOCOL_ERROR, 'ended early'));
    }
    this.exited = true;
    this.emit('exit', code, signal);
  }

  #send(line) {
    const stdin = this.#child?.stdin;
    if (stdin && stdin.writable && !stdin.destroyed) stdin.write(`${line}\n`);
  }

  /** Ends listening; 'final' and 'done' follow. */
  stop() {
    this.#send('stop');
  }

  /** Ends the run without a final text; 'cancelled' follows. */
  cancel() {
    this.#send('cancel');
  }

  /** Ends the process if it still runs (it is always one this session started). */
  kill(signal = 'SIGTERM') {
    if (this.#child && !this.exited) this.#child.kill(signal);
  }

  /**
   * Resolves to the final text; rejects with DictationError or
   * CancelledError if the run ends without one. Does not stop the run.
   */
  finalText() {
    return new Promise((resolve, reject) => {
      const settle = () => {
        this.off('final', settle);
        this.off('error', settle);
        this.off('cancelled', settle);
        this.off('done', settle);
        if (this.finalTextValue !== null) return resolve(this.finalTextValue);
        const { type, value } = this.#outcome;
        if (type === 'error') return reject(value);
        if (type === 'cancelled') return reject(new CancelledError());
        reject(new DictationError(PROTOCOL_ERROR, 'done without final'));
      };
      if (this.finalTextValue !== null || this.#outcome) return settle();
      for (const type of ['final', 'error', 'cancelled', 'done']) this.on(type, settle);
    });
  }
}
