import assert from 'node:assert/strict';
import { spawnSync } from 'node:child_process';
import { join } from 'node:path';
import { test } from 'node:test';

import { fake, READY, ROOT } from './helpers.mjs';

const DICTATE = join(ROOT, 'clients', 'node', 'bin', 'dictate.mjs');

function dictate(executable, input) {
  return spawnSync(process.execPath, [DICTATE, '--executable', executable], {
    input, encoding: 'utf8', timeout: 30_000,
  });
}

test('Enter stops and the final text is printed', () => {
  // The stand-in's final text is the line it was sent.
  const program = fake(`echo '${READY}'; echo '{"type":"partial","text":"half"}'; read line; ` +
    `printf '{"type":"final","text":"%s said"}\\n{"type":"done"}\\n' "$line"`);
  const result = dictate(program, '\n');
  assert.equal(result.stdout, 'stop said\n');
  assert.equal(result.status, 0);
});

test('an error is explained and fails', () => {
  const result = dictate(fake(`echo '{"type":"error","code":"language_unsupported"}'; exit 1`), '');
  assert.equal(result.stdout, '');
  assert.match(result.stderr, /no speech model/);
  assert.equal(result.status, 1);
});
