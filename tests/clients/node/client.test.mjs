import assert from 'node:assert/strict';
import { dirname } from 'node:path';
import { after, before, describe, test } from 'node:test';
import { setTimeout as sleep } from 'node:timers/promises';

import {
  authorize, CancelledError, listen, PROTOCOL_ERROR, SPAWN_FAILED, status,
} from '../../../clients/node/index.js';
import { BINARY, fake, first, READY, record, SPEECH, startAudioServer } from './helpers.mjs';

const GRANTED = { speech: 'granted', microphone: 'granted', engine: 'recognizer' };

/** The words alone, as the transcript has them: no capitals, no marks. */
const wordsOf = (text) => text.toLowerCase().match(/[a-z0-9']+/g) ?? [];

describe('against the real executable', { timeout: 60_000 }, () => {
  let server;
  before(async () => (server = await startAudioServer()));
  after(() => server.stop());

  test('status and authorize report granted on Linux', async () => {
    assert.deepEqual(await status({ executable: BINARY }), GRANTED);
    assert.deepEqual(await authorize({ executable: BINARY }), GRANTED);
  });

  test('an invalid locale is an invalid request', async () => {
    const session = listen({ locale: 'en_US.UTF-8', executable: BINARY });
    const { exited } = record(session);
    await assert.rejects(session.finalText(), { code: 'invalid_request' });
    assert.deepEqual(await exited, [['error', 'invalid_request'], ['exit', 1]]);
  });

  test('a spoken sentence becomes text', async () => {
    const session = listen({ locale: 'en-US', executable: BINARY, env: server.env });
    const { events, exited } = record(session);
    assert.equal(await first(session, 'ready', 'exit'), 'ready', JSON.stringify(events));
    await server.feed(SPEECH.wav);
    // The end of the sentence is still on its way through the audio server
    // and the recognizer: stop once its last word shows, as a person would,
    // or after a while.
    await new Promise((resolve) => {
      const patience = setTimeout(resolve, 10_000);
      const check = () => {
        if (!wordsOf(session.transcript).includes(SPEECH.words.at(-1))) return;
        clearTimeout(patience);
        resolve();
      };
      check();
      session.on('partial', check);
    });
    session.stop();
    const text = await session.finalText();
    const all = await exited;
    assert.deepEqual(all.slice(-3).map(([type]) => type), ['final', 'done', 'exit']);
    assert.equal(all.at(-1)[1], 0);
    const partials = all.filter(([type]) => type === 'partial').map(([, value]) => value);
    assert.ok(partials.length > 0, JSON.stringify(all));
    const heard = SPEECH.words.filter((word) => wordsOf(text).includes(word));
    assert.ok(heard.length >= SPEECH.words.length / 2, `heard "${text}"`);
  });

  test('cancel ends a session without text', async () => {
    const session = listen({ locale: 'en-US', executable: BINARY, env: server.env });
    const { events, exited } = record(session);
    assert.equal(await first(session, 'ready', 'exit'), 'ready', JSON.stringify(events));
    session.cancel();
    await assert.rejects(session.finalText(), CancelledError);
    assert.deepEqual(await exited, [['ready'], ['cancelled'], ['exit', 0]]);
  });
});

describe('against stand-ins', { timeout: 30_000 }, () => {
  test('stop and cancel reach the program as lines', async () => {
    const echo = fake(`echo '${READY}'; read line; printf '{"type":"final","text":"%s"}\\n{"type":"done"}\\n' "$line"`);
    for (const command of ['stop', 'cancel']) {
      const session = listen({ executable: echo });
      session[command]();
      assert.equal(await session.finalText(), command);
    }
  });

  test('the executable is found on PATH', async () => {
    const program = fake(`echo '{"type":"status","speech":"denied","microphone":"restricted","engine":"recognizer"}'`);
    const env = { ...process.env, PATH: dirname(program) };
    const saved = process.env.PATH;
    process.env.PATH = env.PATH;
    try {
      assert.deepEqual(await status(), { speech: 'denied', microphone: 'restricted', engine: 'recognizer' });
      process.env.PATH = '/nonexistent';
      await assert.rejects(status(), { code: SPAWN_FAILED });
      const session = listen();
      const { exited } = record(session);
      assert.deepEqual(await exited, [['error', SPAWN_FAILED], ['exit', null]]);
    } finally {
      process.env.PATH = saved;
    }
  });

  test('a missing executable fails the session', async () => {
    const session = listen({ executable: '/nonexistent/quorvane-dictation' });
    const { exited } = record(session);
    await assert.rejects(session.finalText(), { code: SPAWN_FAILED });
    const events = await exited;
    assert.deepEqual(events[0], ['error', SPAWN_FAILED]);
    assert.equal(events.length, 2);
    session.stop(); // nothing to write to, and no exception
  });

  const broken = {
    'a line that is not JSON': [`echo '${READY}'; echo 'Segmentation fault'; cat >/dev/null`, 0],
    'an exit without a last message': [`echo '${READY}'; exit 3`, 3],
    'a message without its keys': [`echo '${READY}'; echo '{"type":"final"}'; cat >/dev/null`, 0],
  };
  for (const [name, [body, code]] of Object.entries(broken)) {
    test(`${name} ends the session with a protocol error`, async () => {
      const session = listen({ executable: fake(body) });
      const { exited } = record(session);
      await assert.rejects(session.finalText(), { code: PROTOCOL_ERROR });
      assert.deepEqual(await exited, [['ready'], ['error', PROTOCOL_ERROR], ['exit', code]]);
      session.stop();
      session.cancel();
    });
  }

  test('writing to a program that has gone raises nothing', async () => {
    // It exits at once without reading: its input pipe is closed (EPIPE).
    const session = listen({ executable: fake(`exec 0<&-; echo '${READY}'; sleep 0.2; echo '{"type":"cancelled"}'`) });
    const { exited } = record(session);
    await first(session, 'ready');
    await sleep(100);
    session.stop();
    session.stop();
    assert.deepEqual(await exited, [['ready'], ['cancelled'], ['exit', 0]]);
  });

  test('status failures reject with their code', async () => {
    await assert.rejects(status({ executable: fake(`echo '{"type":"error","code":"speech_denied"}'; exit 1`) }), {
      code: 'speech_denied',
    });
    await assert.rejects(status({ executable: fake('echo status: granted') }), { code: PROTOCOL_ERROR });
  });

  test('unknown message types are skipped and finalText settles late or early', async () => {
    const session = listen({
      executable: fake(`echo '{"type":"hint","text":"x"}'; echo '${READY}'; echo '{"type":"final","text":"caf\\u00e9 1\\/2"}'; echo '{"type":"done"}'`),
    });
    const { exited } = record(session);
    const early = session.finalText();
    const events = await exited;
    assert.deepEqual(events, [['ready'], ['final', 'café 1/2'], ['done'], ['exit', 0]]);
    assert.equal(await early, 'café 1/2');
    assert.equal(await session.finalText(), 'café 1/2');
  });
});
