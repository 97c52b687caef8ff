#!/usr/bin/env node
// Dictation in a terminal: shows what you say as you say it, on one line,
// and prints the whole text when you press Enter. Ctrl-C cancels.
//
//   dictate.mjs [LOCALE] [--executable PATH]

import { createInterface } from 'node:readline';
import { parseArgs } from 'node:util';
import { listen, PROTOCOL_ERROR, SPAWN_FAILED } from '../index.js';

const EXPLANATIONS = {
  invalid_request: 'that is not a locale such as en-US',
  language_unsupported: 'no speech model for this language is installed',
  on_device_unavailable: 'speech cannot be recognized on this machine',
  microphone_unavailable: 'no microphone could be opened (is the audio server running?)',
  speech_not_authorized: 'speech recognition has not been allowed yet',
  speech_denied: 'speech recognition is not allowed',
  microphone_not_authorized: 'the microphone has not been allowed yet',
  microphone_denied: 'the microphone is not allowed',
  [SPAWN_FAILED]: 'quorvane-dictation could not be started (is it installed?)',
  [PROTOCOL_ERROR]: 'quorvane-dictation stopped unexpectedly',
};

const { values, positionals } = parseArgs({
  options: { executable: { type: 'string' }, help: { type: 'boolean', short: 'h' } },
  allowPositionals: true,
});
if (values.help || positionals.length > 1) {
  process.stdout.write('usage: dictate.mjs [LOCALE] [--executable PATH]\n');
  process.exit(values.help ? 0 : 2);
}

const out = process.stdout;
const live = out.isTTY; // rewrite one line only on a terminal

// The end of the text that fits on one terminal line.
function fitted(text) {
  const width = Math.max((out.columns ?? 80) - 3, 10); // room for an echoed ^C
  const characters = [...text];
  return characters.length <= width ? text : '…' + characters.slice(-(width - 1)).join('');
}

function show(text) {
  if (live) out.write(`\r\x1b[2K${fitted(text)}`);
}

const session = listen({ locale: positionals[0], executable: values.executable });
const keyboard = createInterface({ input: process.stdin });
let failed = false;

// Enter, Ctrl-D or the end of piped input stop; the program keeps a stop
// that comes before it is ready and ends right after it.
keyboard.once('line', () => {
  if (live && process.stdin.isTTY) out.write('\x1b[1A'); // back over the echoed Enter
  session.stop();
});
keyboard.once('close', () => session.stop());

session.on('ready', () => {
  if (live) out.write('Listening. Press Enter to stop, Ctrl-C to cancel.\n');
});
session.on('partial', show);
session.on('final', (text) => {
  show('');
  out.write(`${text}\n`);
});
session.on('cancelled', () => {
  show('');
  if (live) out.write('Cancelled.\n');
});
session.on('error', (error) => {
  failed = true;
  show('');
  process.stderr.write(`dictate: ${EXPLANATIONS[error.code] ?? error.code}\n`);
});
session.on('exit', () => {
  keyboard.close();
  process.exitCode = failed ? 1 : 0;
});

let interrupted = false;
process.on('SIGINT', () => {
  if (interrupted) session.kill(); // a second Ctrl-C: do not wait any longer
  interrupted = true;
  session.cancel();
});
