// What the Node client tests share: the executable under test, stand-ins
// for it, and the private audio server.

import { spawn } from 'node:child_process';
import { once } from 'node:events';
import { chmodSync, mkdtempSync, rmSync, writeFileSync } from 'node:fs';
import { tmpdir } from 'node:os';
import { dirname, join } from 'node:path';
import { createInterface } from 'node:readline';
import { fileURLToPath } from 'node:url';

export const ROOT = join(dirname(fileURLToPath(import.meta.url)), '..', '..', '..');
export const BINARY = process.env.QUORVANE_BINARY ?? join(ROOT, 'build', 'quorvane-dictation');
export const READY = '{"type":"ready","engine":"recognizer"}';

const fakeDirs = [];
process.on('exit', () => fakeDirs.forEach((dir) => rmSync(dir, { recursive: true, force: true })));

/** A stand-in executable named quorvane-dictation running a shell script body. */
export function fake(body) {
  const dir = mkdtempSync(join(tmpdir(), 'quorvane-fake-'));
  fakeDirs.push(dir);
  const path = join(dir, 'quorvane-dictation');
  writeFileSync(path, `#!/bin/sh\n${body}\n`);
  chmodSync(path, 0o755);
  return path;
}

/** Collects a session's events, in order, until 'exit'. */
export function record(session) {
  const events = [];
  for (const type of ['ready', 'partial', 'final', 'done', 'cancelled', 'error']) {
    session.on(type, (value) => events.push(value === undefined ? [type] : [type, value?.code ?? value]));
  }
  const exited = new Promise((resolve) =>
    session.once('exit', (code) => {
      events.push(['exit', code]);
      resolve(events);
    }),
  );
  return { events, exited };
}

/** Resolves with the type of whichever of `types` the session emits first.
 * (events.once would reject on 'error'.) */
export function first(session, ...types) {
  return new Promise((resolve) => {
    for (const type of types) session.once(type, () => resolve(type));
  });
}

/** The first LibriVox recording and its transcript, from pocketsphinx-testdata. */
export const SPEECH = {
  wav: '/usr/share/pocketsphinx/test/data/librivox/sense_and_sensibility_01_austen_64kb-0880.wav',
  words: ['he', 'was', 'not', 'an', 'ill', 'disposed', 'young', 'man'],
};

/** tests/support/private_audio_server.py, driven through its command line. */
export async function startAudioServer() {
  const script = join(ROOT, 'tests', 'support', 'private_audio_server.py');
  const child = spawn(process.env.QUORVANE_PYTHON ?? 'python3', [script, 'serve'], {
    stdio: ['pipe', 'pipe', 'inherit'],
  });
  const lines = createInterface({ input: child.stdout })[Symbol.asyncIterator]();
  const next = async () => {
    const { value, done } = await lines.next();
    if (done) throw new Error('the audio server ended');
    return JSON.parse(value);
  };
  const info = await next();
  return {
    env: { ...process.env, PULSE_SERVER: info.server },
    async feed(path) {
      child.stdin.write(`feed ${path}\n`);
      const answer = await next();
      if (answer.fed !== path) throw new Error(`feeding failed: ${JSON.stringify(answer)}`);
    },
    async stop() {
      child.stdin.end();
      if (child.exitCode === null) await once(child, 'exit');
    },
  };
}
