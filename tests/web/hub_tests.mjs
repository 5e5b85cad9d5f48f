// The hub and the browser game together, in Debian's chromium:
//   node hub_tests.mjs Q47 Q47_HUB [SITE_DIR]   (Q47_HUB_SHOT=FILE.png: the player's page)
// A q47-hub of its own (a free loopback port, a fresh database, the built site under /play/)
// serves the game. An author opens a pack in the page's editor, keeps the checker's plan of its
// level as the proof and publishes it with the Publish button; another player, in a browser
// profile of their own, finds the pack among the newest on the hub's page, plays it from its
// link by the plan (one wall fewer taken, so a score of their own), agrees to send the run and
// sees the level's histogram: both players, the author's score and their own, theirs marked,
// in the picture and in words. Prints one line per check and "N passed, N failed".
import { spawn } from 'node:child_process';
import { cpSync, copyFileSync, mkdtempSync, rmSync, writeFileSync, existsSync } from 'node:fs';
import net from 'node:net';
import os from 'node:os';
import path from 'node:path';
import { ROOT, sleep, native, missingTools, launch, waitReady, scriptedPad } from './harness.mjs';

const q47 = path.resolve(process.argv[2] ?? path.join(ROOT, 'build/q47'));
const hubProgram = path.resolve(process.argv[3] ?? path.join(ROOT, 'build/hub/q47-hub'));
const site = path.resolve(process.argv[4] ?? path.join(ROOT, 'build-web/site'));
const PACK = path.join(ROOT, 'tests/web/hub_room.q47l');
const HOLD_MS = 80;  // a press held over a few of the game's frames, as a hand holds it

let passed = 0;
let failed = 0;
function check(name, ok, detail) {
  if (ok) passed++;
  else failed++;
  console.log(`${ok ? 'ok  ' : 'FAIL'} ${name}${detail && !ok ? `: ${detail}` : ''}`);
  return ok;
}

const missing = missingTools(site);
if (!existsSync(hubProgram)) missing.push(`no q47-hub at ${hubProgram} (./run hub builds it)`);
if (missing.length) {
  for (const reason of missing) console.log(`FAIL ${reason}`);
  console.log(`0 passed, ${missing.length} failed`);
  process.exit(1);
}

const freePort = () => new Promise((done, fail) => {
  const probe = net.createServer();
  probe.once('error', fail);
  probe.listen(0, '127.0.0.1', () => {
    const { port } = probe.address();
    probe.close(() => done(port));
  });
});

// The site copied with the pack beside the game, so the editor opens it from the same origin.
const scratch = mkdtempSync(path.join(os.tmpdir(), 'q47-hub-web-'));
const siteCopy = path.join(scratch, 'site');
cpSync(site, siteCopy, { recursive: true });
copyFileSync(PACK, path.join(siteCopy, 'room.q47l'));
const port = await freePort();
const origin = `http://127.0.0.1:${port}`;
const hubLog = [];
const hub = spawn(hubProgram, ['--listen', `127.0.0.1:${port}`, '--database',
  path.join(scratch, 'hub.db'), '--site', siteCopy], {
  env: { ...process.env, XDG_DATA_HOME: path.join(scratch, 'data') },
  stdio: ['ignore', 'ignore', 'pipe'],
});
hub.stderr.on('data', (chunk) => hubLog.push(String(chunk)));
let up = false;
for (let i = 0; i < 100 && !up; i++) {
  up = await fetch(`${origin}/api/packs?limit=1`).then((r) => r.ok, () => false);
  if (!up) await sleep(100);
}

const browser = await launch();
const pageErrors = [];
async function pageIn(context) {
  const page = await context.newPage();
  page.q47Log = [];
  page.on('pageerror', (e) => {
    page.q47Log.push(`pageerror: ${e.message ?? e}`);
    pageErrors.push(String(e.message ?? e));
  });
  page.on('console', (m) => page.q47Log.push(`${m.type()}: ${m.text()}`));
  return page;
}
const lastWords = (page) => page.q47Log.slice(-8).join('\n    ');

// The canvas point over the centre of cell (x, y) of a size x size level.
async function cellPoint(page, size, x, y) {
  const r = await page.$eval('canvas', (c) => {
    const b = c.getBoundingClientRect();
    return { left: b.left + c.clientLeft, top: b.top + c.clientTop, scale: c.clientWidth / c.width };
  });
  const cell = 480 / size;
  return [r.left + (80 + cell * x + cell / 2) * r.scale, r.top + (cell * y + cell / 2) * r.scale];
}
async function press(page, key) {
  await page.keyboard.down(key);
  await sleep(HOLD_MS);
  await page.keyboard.up(key);
  await sleep(HOLD_MS);
}

try {
  check('the hub serves the game', up, hubLog.join(''));
  if (!up) throw new Error('no hub');

  // The author: the pack in the editor, the plan shown and kept as the level's proof (V, then
  // Escape, then K), then the page's Publish button.
  const author = await pageIn(await browser.createBrowserContext());
  try {
    await author.goto(`${origin}/play/index.html?edit&levels=/play/room.q47l`);
    await waitReady(author);
    await author.waitForFunction(() => Module._web_edit_level_count() === 1, { timeout: 20000 });
    await author.focus('canvas');
    check('publish: Publish is offered in the editor', await author.$eval('#publish', (e) => !e.hidden));
    await author.click('#publish');
    await sleep(300);
    const early = await author.$eval('#output', (e) => e.textContent);
    check('publish: a level without a proof is not published', !early.startsWith('Published'), early);
    await author.focus('canvas');
    // V shows the plan once the checker has one; the editor's probes answer -1 meanwhile.
    let shown = false;
    for (let i = 0; i < 50 && !shown; i++) {
      await press(author, 'KeyV');
      shown = await author.evaluate(() => Module._web_edit_level_count() === -1);
      if (!shown) await sleep(200);
    }
    check('publish: V shows the plan', shown, lastWords(author));
    await press(author, 'Escape');
    await author.waitForFunction(() => Module._web_edit_level_count() === 1, { timeout: 10000 });
    await press(author, 'KeyK');
    // Ctrl+U, the editor's own key, publishes as the button does.
    await author.keyboard.down('Control');
    await press(author, 'KeyU');
    await author.keyboard.up('Control');
    const line = await author.waitForFunction(
      () => /^(Published|Not published)/.test(document.querySelector('#output').textContent) &&
        document.querySelector('#output').textContent, { timeout: 20000 }).then((h) => h.jsonValue());
    const id = /\/packs\/([0-9a-f]{64})$/.exec(line)?.[1];
    check('publish: Ctrl+U publishes, and the page says the pack\'s address on the hub',
      Boolean(id) && line.startsWith('Published: '), `${line}\n    ${lastWords(author)}`);
    if (!id) throw new Error('not published');
    // Published again, the hub answers 409: said as such, with the same address.
    await author.click('#publish');
    const again = await author.waitForFunction(
      () => /^Already published/.test(document.querySelector('#output').textContent) &&
        document.querySelector('#output').textContent, { timeout: 20000 })
      .then((h) => h.jsonValue(), () => author.$eval('#output', (e) => e.textContent));
    check('publish: a pack published already is said so, with its address',
      again === line.replace(/^Published/, 'Already published'), again);
    const key = await author.evaluate(() => localStorage.getItem('q47.hub-key'));
    check('publish: the author\'s key is kept in the browser', /^[0-9a-f]{64}$/.test(key ?? ''), key);
    const file = await (await fetch(`${origin}/api/packs/${id}/file`)).text();
    const packFile = path.join(scratch, 'published.q47l');
    writeFileSync(packFile, file);
    const plan = JSON.parse(native(q47, ['--check', packFile, '--json']).stdout)[0];
    const authorBest = await (await fetch(`${origin}/api/levels/${id}/1/histogram`)).json();
    check('publish: the author\'s proof counts on the hub', authorBest.players === 1 &&
      authorBest.counts.length === 1 && authorBest.counts[0][0] === plan.plan_score,
      JSON.stringify(authorBest));

    // The player, in another profile: the hub's newest packs, the pack's page, its play link.
    const player = await pageIn(await browser.createBrowserContext());
    await player.evaluateOnNewDocument(scriptedPad);
    await player.goto(`${origin}/`);
    const listed = await player.waitForSelector(`#pack-list a[href="#pack=${id}"]`, { timeout: 10000 })
      .then(() => true, () => false);
    check('play: the pack is among the newest on the hub\'s page', listed, lastWords(player));
    await player.click(`#pack-list a[href="#pack=${id}"]`);
    await player.waitForFunction((want) => document.querySelector('#pack-play')?.href.includes(want),
      { timeout: 10000 }, id);
    const link = await player.$eval('#pack-play', (e) => e.href);
    await player.goto(link);
    await waitReady(player);
    await player.evaluate(() => window.q47Start());
    await player.focus('canvas');
    for (let i = 0; i < 10 && await player.evaluate(() => Module._web_game_state()) !== 0; i++) {
      await press(player, 'Enter');
    }
    check('play: the linked pack plays', await player.evaluate(() => Module._web_game_state()) === 0);
    // The plan's placements and pick-ups in order, but the last pick-up: a score one less.
    const actions = plan.plan.slice(0, -1);
    for (const [, what, x, y] of actions) {
      await player.mouse.move(...await cellPoint(player, 8, x, y));
      const button = what === 'take' ? 'right' : 'left';
      await player.mouse.down({ button });
      await sleep(HOLD_MS);
      await player.mouse.up({ button });
      await sleep(HOLD_MS);
    }
    const walls = await player.evaluate((cells) => cells.map(([x, y]) =>
      (Module._web_cell_flags(x, y) & 2) !== 0), actions.map(([, , x, y]) => [x, y]));
    const placedAsPlanned = actions.every(([, what], i) => walls[i] === (what === 'place'));
    check('play: the plan\'s barriers placed and walls taken', placedAsPlanned,
      `walls ${JSON.stringify(walls)}, state ${await player.evaluate(() => Module._web_game_state())}`);
    await press(player, 'Enter');
    const asked = await player.waitForFunction(() => !document.querySelector('#hub-ask').hidden,
      { timeout: 10000 }).then(() => true, () => false);
    check('submit: a won level asks once whether to send the runs', asked &&
      /Send your runs to the hub/.test(await player.$eval('#hub-ask', (e) => e.textContent)),
      lastWords(player));
    // Answered from the keyboard, with the name the hub will show (hostile, to see it kept as
    // text): Tab reaches the question's field and button.
    await player.focus('#hub-name');
    await player.keyboard.type('Ada <b>');
    await player.focus('#hub-yes');
    await press(player, 'Enter');
    check('submit: the answer is remembered', await player.evaluate(
      () => localStorage.getItem('q47.hub-submit')) === 'yes');
    await player.focus('canvas');
    // Sent as soon as the level is won: the histogram comes while the run goes on.
    const shownScores = await player.waitForFunction(
      () => document.querySelector('#hub-scores figure') !== null, { timeout: 30000 })
      .then(() => true, () => false);
    const saidOnScores = await player.$eval('#said', (e) => e.textContent);
    check('submit: the won level is sent and its histogram shown while the run goes on',
      shownScores && await player.evaluate(() => document.getElementById('start').hidden),
      lastWords(player));
    const me = await player.evaluate(async () => (await fetch('/api/players/me', {
      headers: { Authorization: `Bearer ${localStorage.getItem('q47.hub-key')}` },
    })).json());
    check('submit: the player is named as given', me.name === 'Ada <b>', JSON.stringify(me));

    // The level won is rated below its histogram: by a finger (here the mouse), from the
    // keyboard, and from a pad while the game goes on; the hub keeps the last.
    const rated = () => player.$eval('#hub-scores .rating [role=status]', (e) => e.textContent);
    const ratedAs = (stars) => player.waitForFunction((want) => document
      .querySelector('#hub-scores .rating [role=status]')?.textContent === want, { timeout: 10000 },
    ` rated ${stars} of 5 stars.`).then(() => true, () => false);
    await player.click('#hub-scores .rating button:nth-of-type(2)');
    check('rate: a tap on 2 stars rates the level', await ratedAs(2), await rated());
    await player.focus('#hub-scores .rating button:nth-of-type(4)');
    await press(player, 'Enter');
    check('rate: Enter on 4 stars rates it again', await ratedAs(4), await rated());
    await player.focus('canvas');
    await player.evaluate(() => window.q47Pad.plug());
    for (const button of [5, 5, 5, 3]) {  // RB three times: 3 stars; Y sends them
      await player.evaluate((i) => window.q47Pad.set(i, true), button);
      await sleep(HOLD_MS);
      await player.evaluate((i) => window.q47Pad.set(i, false), button);
      await sleep(HOLD_MS);
    }
    check('rate: a pad\'s shoulders and Y rate it from the game', await ratedAs(3), await rated());
    const packsNow = await (await fetch(`${origin}/api/packs?limit=50&sort=newest`)).json();
    const rating = packsNow.packs.find((p) => p.pack === id)?.rating;
    check('rate: the hub keeps the last rating', rating === 3, JSON.stringify(rating));
    await press(player, 'Escape');
    // Q47_HUB_SHOT=FILE.png keeps a picture of the player's page, to look at.
    if (process.env.Q47_HUB_SHOT) await player.screenshot({ path: process.env.Q47_HUB_SHOT, fullPage: true });
    const histogram = await player.evaluate(() => ({
      words: document.querySelector('#hub-scores figcaption')?.textContent,
      bars: document.querySelectorAll('#hub-scores rect').length,
      mine: document.querySelectorAll('#hub-scores rect.mine').length,
      marks: document.querySelectorAll('#hub-scores path.mine').length,
      bound: document.querySelectorAll('#hub-scores line.bound').length,
    }));
    const expected = `level 1: your score ${plan.plan_score - 1}, best possible ` +
      `${plan.best_score_bound}${plan.plan_score === plan.best_score_bound ? ' (proven best)' : ''}, 2 players`;
    check('submit: the histogram in words names the score, the bound and both players',
      histogram.words === expected, `${histogram.words} (wanted ${expected})`);
    check('submit: the picture has both players\' bars, the player\'s marked, and the bound',
      histogram.bars === 2 && histogram.mine === 1 && histogram.marks === 1 && histogram.bound === 1,
      JSON.stringify(histogram));
    check('submit: a screen reader hears it', saidOnScores === `${expected}.`, saidOnScores);

    // One player in one browser: the hub's page in the same profile is the game's player, and
    // marks their score in the same words.
    await player.goto(`${origin}/#pack=${id}`);
    const hubWords = await player.waitForSelector('#pack-levels figcaption', { timeout: 10000 })
      .then((e) => e.evaluate((f) => f.textContent), () => '');
    const playerLine = await player.$eval('#player-line', (e) => e.textContent);
    check('one player: the hub\'s page plays as the game\'s player, their score marked',
      playerLine.startsWith('Playing as Ada <b>') && hubWords === expected,
      `${playerLine} / ${hubWords}`);
    // A name runs in its own direction, never into the page's words around it.
    const isolated = await player.evaluate(() => [
      document.querySelector('#player-line bdi')?.textContent,
      document.querySelector('#pack-line bdi')?.textContent,
      document.querySelector('#pack-title').dir]);
    check('names: the player\'s and the author\'s names and the title are isolated',
      isolated[0] === 'Ada <b>' && typeof isolated[1] === 'string' && isolated[2] === 'auto',
      JSON.stringify(isolated));
    // The level the player won is rated on the hub's page too: by the pointer, from the keyboard,
    // and (below, on the phone) by a finger; the hub keeps the last.
    const hubRow = '#pack-levels .rating';
    const hubRated = (stars) => player.waitForFunction((row, want) => document
      .querySelector(`${row} [role=status]`)?.textContent === want, { timeout: 10000 }, hubRow,
    ` rated ${stars} of 5 stars.`).then(() => true, () => false);
    const hubStatus = () => player.$eval(`${hubRow} [role=status]`, (e) => e.textContent)
      .catch((e) => e.message);
    await player.click(`${hubRow} button:nth-of-type(5)`).catch(() => {});
    check('rate: the hub\'s page rates a level won with a click', await hubRated(5), await hubStatus());
    await player.focus(`${hubRow} button:nth-of-type(1)`).catch(() => {});
    await press(player, 'Enter');
    check('rate: the hub\'s page rates it with Enter', await hubRated(1), await hubStatus());
    // On a 360 px phone every control of the hub's page is a finger's size.
    await player.setViewport({ width: 360, height: 640, deviceScaleFactor: 2, isMobile: true,
      hasTouch: true });
    await sleep(300);
    const star2 = await player.$eval(`${hubRow} button:nth-of-type(2)`, (e) => {
      e.scrollIntoView({ block: 'center' });
      const r = e.getBoundingClientRect();
      return { x: r.x + r.width / 2, y: r.y + r.height / 2 };
    }).catch(() => null);
    if (star2) await player.touchscreen.tap(star2.x, star2.y);
    const tapped = await hubRated(2);
    const keptNow = (await (await fetch(`${origin}/api/packs?limit=50&sort=newest`)).json())
      .packs.find((p) => p.pack === id)?.rating;
    check('rate: a finger on the hub\'s page rates it, and the hub keeps the last',
      tapped && keptNow === 2, `${await hubStatus()} / ${JSON.stringify(keptNow)}`);
    const small = await player.evaluate(() => [...document.querySelectorAll('button, input, a')]
      .filter((e) => e.offsetParent).map((e) => [e.textContent || e.id, e.getBoundingClientRect()])
      .filter(([, r]) => r.height < 44 || r.width < 44)
      .map(([name, r]) => `${name.trim()} ${Math.round(r.width)}x${Math.round(r.height)}`));
    check('one player: the hub page\'s controls are at least 44 px on a 360 px phone',
      small.length === 0, small.join('; '));
    // A key the hub's page kept under its old name becomes the one key, and nothing is lost.
    const old = await pageIn(await browser.createBrowserContext());
    await old.goto(`${origin}/`);
    await old.evaluate((k) => localStorage.setItem('q47-hub-key', k), key);
    await old.goto(`${origin}/`);
    await old.waitForFunction(() => /^Playing as/.test(document.querySelector('#player-line')
      .textContent), { timeout: 10000 }).catch(() => {});
    const keys = await old.evaluate(() => [localStorage.getItem('q47.hub-key'),
      localStorage.getItem('q47-hub-key'), document.querySelector('#player-line').textContent]);
    check('one player: the old key is moved to q47.hub-key', keys[0] === key && keys[1] === null &&
      keys[2].startsWith('Playing as'), JSON.stringify(keys));
    check('no uncaught errors in any page', pageErrors.length === 0, pageErrors.join('\n    '));
  } catch (error) {
    check('the hub in the browser', false, `${error.message}\n    ${lastWords(author)}`);
  }
} finally {
  await browser.close();
  hub.kill('SIGTERM');
  await new Promise((done) => (hub.exitCode !== null ? done() : hub.once('exit', done)));
  rmSync(scratch, { recursive: true, force: true });
}
console.log(`${passed} passed, ${failed} failed`);
process.exitCode = failed ? 1 : 0;
