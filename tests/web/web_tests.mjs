// The browser build end to end, in Debian's chromium, held to the native game:
//   node web_tests.mjs [Q47] [SITE_DIR]     (defaults: build/q47, build-web/site)
//   Q47_WEB_ONLY=input,sound node web_tests.mjs ...  only those groups
// The golden runs must verify to the native lines, chosen frames must be the native pictures
// pixel for pixel, the pointer and touch must hit the cell under them at any CSS scale, a broken
// level pack must be told as the native checker tells it, the level editor's saved pack and
// share link must hold what was painted, the page must start offline after one visit, and the
// game must be heard. Prints one line per check and "N passed, N failed".
import {
  cpSync, mkdtempSync, readdirSync, readFileSync, rmSync, statSync, writeFileSync, mkdirSync,
} from 'node:fs';
import os from 'node:os';
import path from 'node:path';
import {
  ROOT, sleep, native, withoutSpeed, serve, missingTools, launch, loggedPage, openGame, waitReady,
  outputLine, canvasPixels, readPng, scriptedPad,
} from './harness.mjs';

const q47 = path.resolve(process.argv[2] ?? path.join(ROOT, 'build/q47'));
const site = path.resolve(process.argv[3] ?? path.join(ROOT, 'build-web/site'));
const REPLAYS = path.join(ROOT, 'tests/replays');
// Presses are held as a hand holds them: the game reads the buttons and keys once a frame, on
// the desktop as here, so a press and release within one frame would count as neither.
const HOLD_MS = 80;

let passed = 0;
let failed = 0;
function check(name, ok, detail) {
  if (ok) passed++;
  else failed++;
  console.log(`${ok ? 'ok  ' : 'FAIL'} ${name}${detail && !ok ? `: ${detail}` : ''}`);
  return ok;
}
// A group that throws (a timeout, a page that never got ready) is one failure with its reason
// and the page's last words, and the other groups still run.
// Q47_WEB_ONLY=input,sound runs only those groups, for the loop of fixing one of them.
const only = process.env.Q47_WEB_ONLY?.split(',');
async function group(name, body) {
  if (only && !only.includes(name)) return;
  const pages = [];
  try {
    await body(pages);
  } catch (error) {
    const log = pages.flatMap((p) => p.q47Log ?? []).slice(-8).join('\n    ');
    check(name, false, `${error.message}${log ? `\n    ${log}` : ''}`);
  } finally {
    for (const page of pages) {
      pageErrors.push(...(page.q47Log ?? []).filter((line) => line.startsWith('pageerror')));
      await page.close().catch(() => {});
    }
  }
}
const pageErrors = [];

const missing = missingTools(site);
if (missing.length) {
  for (const reason of missing) console.log(`FAIL ${reason}`);
  console.log(`0 passed, ${missing.length} failed`);
  process.exit(1);
}

const scratch = mkdtempSync(path.join(os.tmpdir(), 'q47-web-'));
const packs = path.join(scratch, 'packs');
mkdirSync(packs);
// A copy of the site on an origin of its own (its own service worker and caches), to be rebuilt
// as a new version under a page that runs the old one.
const nextSite = path.join(scratch, 'next');
cpSync(site, nextSite, { recursive: true });
const server = await serve({
  '/': site,
  '/test/replays/': REPLAYS,
  '/test/levels/': path.join(ROOT, 'levels'),
  '/test/packs/': packs,
});
const nextServer = await serve({ '/': nextSite });
const { origin } = server;
const browser = await launch();
console.log(`# in ${await browser.version()}`);

// A page that is only navigated: ?verify pages print their line without waiting for a player.
async function bare(pages) {
  const page = await loggedPage(browser);
  pages.push(page);
  return page;
}
async function game(pages, query, viewport) {
  return openGame(await bare(pages), origin, query, viewport);
}
// The browser's verify line is the native one but for the speed; the native run must pass too.
const sameRun = (line, expected) =>
  expected.status === 0 && withoutSpeed(line) === withoutSpeed(expected.stdout);

// Starts play as a player would: a click on the "click to play" overlay when the page shows
// one, q47Start() otherwise.
async function start(page) {
  const overlay = await page.$('#start');
  const shown = overlay && await overlay.evaluate((e) => e.offsetParent !== null &&
    getComputedStyle(e).visibility !== 'hidden');
  if (shown) await overlay.click();
  else await page.evaluate(() => window.q47Start());
}

try {
  // Every golden run, verified by the rules compiled to WebAssembly: levels, score, frames and
  // checksum exactly as the native build finds them.
  await group('golden runs', async (pages) => {
    const page = await bare(pages);
    const names = readdirSync(REPLAYS).filter((n) => n.endsWith('.q47r')).sort();
    check('golden runs found', names.length >= 20, `${names.length} in ${REPLAYS}`);
    let inConsole = 0;
    for (const name of names) {
      const expected = native(q47, ['--verify', path.join(REPLAYS, name)]);
      await page.goto(`${origin}/index.html?verify=test/replays/${name}`);
      const line = await outputLine(page);
      check(`verify ${name}`, sameRun(line, expected),
        `browser "${line}", native "${expected.stdout.trim()}" (exit ${expected.status})`);
      inConsole += page.q47Log.includes(`log: ${line}`);
      page.q47Log.length = 0;
    }
    check('each verify line also on the console', inConsole === names.length,
      `${inConsole} of ${names.length}`);
  });

  // Frames of the golden runs drawn in the browser against the native --picture of the same
  // frame. The whole 640x480 picture must match exactly, text included: both builds render the
  // same font file with FreeType of the same Debian version, so a difference in the text is a
  // real fault (a wrong font, hinting or blending), not noise.
  await group('pictures', async (pages) => {
    const page = await bare(pages);
    const frames = [
      ['intro-level1-win.q47r', 40, 'a story screen, one line of white text'],
      ['intro-level1-win.q47r', 245, 'level 1 with three barriers, the chemical, both panels'],
      ['intro-level1-win.q47r', 300, "a won level's tally"],
      ['level09-win.q47r', 50, 'level 9, 40 x 40 cells, discs and barriers'],
      ['level09-win.q47r', 300, 'level 9 with the marked cells', 'marked'],
    ];
    for (const [name, frame, what, palette] of frames) {
      const png = path.join(scratch, `${name}-${frame}.png`);
      const marked = palette ? ['--palette', palette] : [];
      native(q47, ['--verify', path.join(REPLAYS, name), '--picture', png, '--frame', `${frame}`,
        ...marked]);
      const want = readPng(readFileSync(png));
      await page.goto(`${origin}/index.html?verify=test/replays/${name}&draw&frame=${frame}` +
        (palette ? `&palette=${palette}` : ''));
      await outputLine(page);
      const got = await canvasPixels(page);
      const label = `picture of ${name} frame ${frame} (${what})`;
      if (!check(`${label}: size`, got.width === want.width && got.height === want.height,
        `${got.width}x${got.height}, native ${want.width}x${want.height}`)) continue;
      let differing = 0, onBoard = 0, first = '';
      for (let i = 0; i < want.rgba.length; i += 4) {
        if (want.rgba.compare(got.rgba, i, i + 4, i, i + 4) === 0) continue;
        const x = (i / 4) % want.width, y = Math.floor(i / 4 / want.width);
        differing++;
        onBoard += x >= 80 && x < 560;
        first ||= ` first at (${x}, ${y}): browser ${[...got.rgba.subarray(i, i + 4)]}, ` +
          `native ${[...want.rgba.subarray(i, i + 4)]}`;
      }
      check(label, differing === 0,
        `${differing} pixels differ, ${onBoard} of them on the board;${first}`);
    }
  });

  // The pointer and touch on level 1 at a whole CSS scale and between two: each press lands on
  // the cell under it and on no other, as many barriers leave the hand as the board gains.
  await group('input', async (pages) => {
    const exported = native(q47, ['--export-levels', '-']).stdout;
    const level = /^level\n([\s\S]*?)^end$/m.exec(exported)[1];
    const size = Number(/^\s*size (\d+)/m.exec(level)[1]);
    const barriers = Number(/^\s*barriers (\d+)/m.exec(level)[1]);
    const map = level.split(/^\s*map\n/m)[1].trim().split('\n').map((row) => row.trim());
    const page = await game(pages, 'level=1', { width: 1280, height: 1024 });
    await start(page);
    await page.waitForFunction(
      () => Module._web_game_state() === 0 && Module._web_level_number() === 1, { timeout: 10000 });

    const board = () => page.evaluate((size) => {
      const flags = [];
      for (let y = 0; y < size; y++) {
        for (let x = 0; x < size; x++) flags.push(Module._web_cell_flags(x, y));
      }
      return { flags, left: Module._web_barriers_left(), state: Module._web_game_state(),
        outside: [Module._web_cell_flags(-1, 0), Module._web_cell_flags(size, 0),
          Module._web_cell_flags(0, size)] };
    }, size);
    const first = await board();
    // The page must play the very level the native build has: same walls, same source, same
    // barriers in hand; the start click must not have placed one.
    const cells = map.join('');
    const wallsDiffer = first.flags.filter((f, i) => ((f & 2) !== 0) !== (cells[i] === 'W'));
    check('level 1 walls as the native level data', wallsDiffer.length === 0,
      `${wallsDiffer.length} cells differ`);
    const source = cells.indexOf('I');
    check('level 1 source holds the chemical', (first.flags[source] & 1) !== 0,
      `flags ${first.flags[source]}`);
    check('level 1 barriers in hand', first.left === barriers, `${first.left}, native ${barriers}`);
    check('cells outside the grid are -1', first.outside.every((f) => f === -1),
      first.outside.join(' '));

    // Free cells with free neighbours, farthest from the source first: the chemical will not
    // reach them during the test, and a press one cell off would land on another free cell
    // and show.
    const sx = source % size, sy = Math.floor(source / size);
    const free = [];
    for (let y = 1; y < size - 1; y++) {
      for (let x = 1; x < size - 1; x++) {
        let clear = true;
        for (let dy = -1; dy <= 1; dy++) {
          for (let dx = -1; dx <= 1; dx++) clear &&= first.flags[(y + dy) * size + x + dx] === 0;
        }
        if (clear) free.push([x, y]);
      }
    }
    free.sort((a, b) => Math.hypot(b[0] - sx, b[1] - sy) - Math.hypot(a[0] - sx, a[1] - sy));

    // The board region of level 1 starts at canvas x 80 and has 16-pixel cells.
    const cellPoint = async (x, y) => {
      const { left, top, scale } = await page.$eval('canvas', (c) => {
        const r = c.getBoundingClientRect();
        return { left: r.left + c.clientLeft, top: r.top + c.clientTop,
          scale: c.clientWidth / c.width };
      });
      return { scale, x: left + (80 + 16 * x + 8) * scale, y: top + (16 * y + 8) * scale };
    };
    // One press; then exactly cell (x, y) must have become a barrier (placed) or free (picked).
    const expectChange = async (what, [x, y], placed, press) => {
      const before = await board();
      await press();
      await page.waitForFunction(
        (x, y, placed) => ((Module._web_cell_flags(x, y) & 2) !== 0) === placed,
        { timeout: 3000, polling: 16 }, x, y, placed).catch(() => {});
      await sleep(100); // a second, wrong change would come within a few frames
      const after = await board();
      const changed = [];
      for (let i = 0; i < size * size; i++) {
        if ((before.flags[i] & 2) === (after.flags[i] & 2)) continue;
        changed.push(`(${i % size}, ${Math.floor(i / size)})`);
      }
      check(what, after.state === 0 && changed.join(' ') === `(${x}, ${y})` &&
        after.left === before.left + (placed ? -1 : 1),
        `walls changed at [${changed.join(' ')}], barriers ${before.left} -> ${after.left}, ` +
        `state ${after.state}`);
    };

    for (const [viewport, scale, cells] of [
      [{ width: 1280, height: 1024 }, 2, free.slice(0, 2)],
      // Between whole scales: each screen pixel shows the nearest game pixel.
      [{ width: 700, height: 560 }, 'between 1 and 2', free.slice(2, 4)],
    ]) {
      await page.setViewport({ ...viewport, deviceScaleFactor: 1, hasTouch: true });
      await sleep(200);
      const at = `at ${viewport.width}x${viewport.height}`;
      const [mouseCell, touchCell] = cells;
      const m = await cellPoint(...mouseCell);
      check(`CSS scale ${at}`, typeof scale === 'number' ? m.scale === scale
        : m.scale > 1 && m.scale < 2, `${m.scale}, wanted ${scale}`);
      await expectChange(`left click places a barrier ${at}`, mouseCell, true,
        () => page.mouse.click(m.x, m.y, { delay: HOLD_MS }));
      await expectChange(`right click picks it up ${at}`, mouseCell, false,
        () => page.mouse.click(m.x, m.y, { button: 'right', delay: HOLD_MS }));
      // Press and release together, as a touchpad's tap-to-click sends them: still a click.
      await expectChange(`a 0 ms left click places a barrier ${at}`, mouseCell, true,
        () => page.mouse.click(m.x, m.y));
      await expectChange(`a 0 ms right click picks it up ${at}`, mouseCell, false,
        () => page.mouse.click(m.x, m.y, { button: 'right' }));
      const t = await cellPoint(...touchCell);
      await expectChange(`tap places a barrier ${at}`, touchCell, true,
        () => page.touchscreen.tap(t.x, t.y));
      await expectChange(`long press picks it up ${at}`, touchCell, false, async () => {
        await page.touchscreen.touchStart(t.x, t.y);
        await sleep(600);
        await page.touchscreen.touchEnd();
      });
    }
  });

  // Keys pressed and released together (0 ms) are keys all the same: keypad Enter moves the
  // story on, and a tapped Escape ends the run.
  await group('keys', async (pages) => {
    const page = await game(pages, '');
    await start(page);
    await page.waitForFunction(() => Module._web_game_state() === 2, { timeout: 10000 });
    let presses = 0;
    while (presses < 30 && await page.evaluate(() => Module._web_game_state()) === 2) {
      await page.keyboard.press(presses % 2 ? 'NumpadEnter' : 'Space');
      await sleep(60);
      presses++;
    }
    check('keys: 0 ms taps of Space and keypad Enter move the intro on, line by line',
      presses === 12 && await page.evaluate(() => Module._web_level_number()) === 1,
      `${presses} presses, state ${await page.evaluate(() => Module._web_game_state())}`);
    // Keys alone: the arrows take the cursor from the pointer's cell (the middle of level 1,
    // beside the leak's room) out onto open floor, and Space places a barrier there.
    const inHand = await page.evaluate(() => Module._web_barriers_left());
    for (let step = 0; step < 8; step++) {
      await page.keyboard.press('ArrowRight');
      await sleep(60);
    }
    await page.keyboard.press('Space');
    check('keys: an arrow and Space place a barrier without the mouse', await page.waitForFunction(
      (n) => Module._web_barriers_left() === n - 1, { timeout: 3000 }, inHand).then(() => true, () => false),
    `${await page.evaluate(() => Module._web_barriers_left())} in hand, ${inHand} before`);
    await page.keyboard.press('Escape');
    check('keys: a 0 ms Escape ends the run', await page.waitForFunction(
      () => !document.querySelector('#start').hidden, { timeout: 5000 }).then(() => true, () => false));
  });

  // The settings from the page: its button opens the game's own screen over a game that waits,
  // a change is kept in the page's storage at once, and a reload plays with it; stored text the
  // game cannot use is said on the console and the game starts with the defaults.
  await group('settings', async (pages) => {
    const page = await game(pages, 'level=1');
    await page.evaluate(() => localStorage.removeItem('q47.settings'));
    // The cells the leak has reached on level 1's 30 x 30 board.
    const leak = () => page.evaluate(() => {
      let n = 0;
      for (let x = 0; x < 30; x++) for (let y = 0; y < 30; y++) n += Module._web_cell_flags(x, y) & 1;
      return n;
    });
    await page.click('#settings');
    const shows = () => page.evaluate(() => Module._web_settings_open());
    check('settings: the Settings button opens the settings screen over a game',
      await shows() === 1 && await page.$eval('#start', (e) => e.hidden), `open ${await shows()}`);
    const reached = await leak();
    await page.keyboard.press('ArrowDown', { delay: HOLD_MS });
    await page.keyboard.press('ArrowLeft', { delay: HOLD_MS });
    const kept = await page.waitForFunction(
      () => localStorage.getItem('q47.settings')?.includes('\nmusic_volume 90\n'), { timeout: 5000 })
      .then(() => true, () => false);
    check('settings: the music one step down is kept in q47.settings at once', kept,
      await page.evaluate(() => localStorage.getItem('q47.settings')));
    check('settings: a screen reader hears the setting changed, as the game tells it',
      await page.$eval('#said', (e) => e.textContent) === 'Music volume 90.',
      await page.$eval('#said', (e) => e.textContent));
    await sleep(1500);
    check('settings: the leak waits while the screen shows', await leak() === reached,
      `${reached} cells, then ${await leak()}`);
    await page.keyboard.press('F2', { delay: HOLD_MS });
    check('settings: F2 closes it, and the leak goes on', await shows() === 0 &&
      await page.waitForFunction((n) => {
        let m = 0;
        for (let x = 0; x < 30; x++) for (let y = 0; y < 30; y++) m += Module._web_cell_flags(x, y) & 1;
        return m > n;
      }, { timeout: 10000 }, reached).then(() => true, () => false));

    await page.reload();
    await waitReady(page);
    const text = await page.evaluate(() => Module.ccall('web_settings_text', 'string', [], []));
    check('settings: a reload plays with the kept settings', text.includes('\nmusic_volume 90\n'), text);

    // Two tabs at once, each started on the settings kept now, and a line the player wrote into
    // the storage meanwhile: the other tab lowers the effects, this one the music once more; the
    // storage ends with both changes and the line.
    const other = await game(pages, 'level=1');
    await page.evaluate(() => localStorage.setItem('q47.settings',
      `${localStorage.getItem('q47.settings')}# mine\n`));
    // A tab in the background runs no frames: each is brought forward, as the player does.
    await other.bringToFront();
    await other.click('#settings');
    await other.keyboard.press('ArrowLeft', { delay: HOLD_MS });
    await other.waitForFunction(
      () => localStorage.getItem('q47.settings').includes('\neffects_volume 90\n'), { timeout: 5000 })
      .catch(() => {});
    await page.bringToFront();
    await page.click('#settings');
    await page.keyboard.press('ArrowDown', { delay: HOLD_MS });
    await page.keyboard.press('ArrowLeft', { delay: HOLD_MS });
    await page.waitForFunction(
      () => localStorage.getItem('q47.settings').includes('\nmusic_volume 80\n'), { timeout: 5000 })
      .catch(() => {});
    const both = await page.evaluate(() => localStorage.getItem('q47.settings'));
    check('settings: two tabs changing settings at once both keep theirs, and a line written by hand stays',
      both.includes('\nmusic_volume 80\n') && /(^|\n)effects_volume 90\n/.test(both) &&
      both.includes('# mine\n'), both);
    await other.close();
    await page.keyboard.press('F2', { delay: HOLD_MS });

    await page.evaluate(() => localStorage.setItem('q47.settings', 'music_volume loud\nkey_place R\n'));
    page.q47Log.length = 0;
    await page.reload();
    await waitReady(page);
    const said = page.q47Log.filter((line) => line.includes('q47.settings:'));
    const defaults = await page.evaluate(() => Module.ccall('web_settings_text', 'string', [], []));
    check('settings: stored text that cannot be used is said line by line, and defaulted',
      said.length === 2 && said[0].includes("q47.settings:1: music_volume must be a whole number") &&
      defaults.includes('\nmusic_volume 100\n') && defaults.includes('\nkey_place SPACE\n'),
      said.join(' | '));
    await page.evaluate(() => localStorage.removeItem('q47.settings'));

    // Pressed before the game has loaded (without a link it loads at the player's first sign):
    // the screen shows once it has.
    const cold = await bare(pages);
    await cold.goto(`${origin}/index.html`);
    await cold.click('#settings');
    await waitReady(cold);
    check('settings: the button pressed before the game loaded opens the screen once it has',
      await cold.waitForFunction(() => Module._web_settings_open() === 1, { timeout: 10000 })
        .then(() => true, () => false));
  });

  // Waits until the game has run n more frames: a press held that long is seen however the
  // browser spaces its frames.
  async function afterFrames(page, n) {
    const from = await page.evaluate(() => Module._web_frames());
    await page.waitForFunction((until) => Module._web_frames() >= until, { polling: 'raf' }, from + n);
  }

  // Level 1 from the intro to its tally with one kind of device alone: press(what, down) holds
  // or lets go of 'advance', 'place', 'next', or a direction [dx, dy]. The cursor is first pushed
  // into the top-left corner, so the four gaps of the leak's room are reached from a known cell
  // whatever the pointer did, in the order the leak reaches them, as quickly as a player must.
  async function levelOneAlone(page, name, press) {
    const tap = async (what) => {
      await press(what, true);
      await afterFrames(page, 2);
      await press(what, false);
      await afterFrames(page, 2);
    };
    await page.waitForFunction(() => Module._web_game_state() === 2, { timeout: 10000 });
    let lines = 0;
    while (lines < 30 && await page.evaluate(() => Module._web_game_state()) === 2) {
      await tap('advance');
      lines++;
    }
    check(`${name}: the intro moves on line by line to level 1`,
      lines === 12 && await page.evaluate(() => Module._web_level_number()) === 1,
      `${lines} lines, state ${await page.evaluate(() => Module._web_game_state())}`);
    const inHand = await page.evaluate(() => Module._web_barriers_left());
    const walls = () => page.evaluate(() => {
      const found = [];
      for (let y = 0; y < 30; y++) {
        for (let x = 0; x < 30; x++) if (Module._web_cell_flags(x, y) & 2) found.push(`${x},${y}`);
      }
      return found;
    });
    const before = new Set(await walls());
    await press([-1, 0], true);
    await press([0, -1], true);
    await afterFrames(page, 50);
    await press([-1, 0], false);
    await press([0, -1], false);
    await afterFrames(page, 2);
    const at = [0, 0];
    const gaps = [[10, 12], [18, 16], [10, 17], [11, 18]];
    for (const [x, y] of gaps) {
      for (; at[0] !== x; at[0] += Math.sign(x - at[0])) await tap([Math.sign(x - at[0]), 0]);
      for (; at[1] !== y; at[1] += Math.sign(y - at[1])) await tap([0, Math.sign(y - at[1])]);
      await tap('place');
    }
    const walled = await page.evaluate((cells) => cells.map(([x, y]) => Module._web_cell_flags(x, y) & 2), gaps);
    check(`${name}: the four gaps of the leak's room are walled, four barriers placed`,
      walled.every((w) => w) && await page.evaluate(() => Module._web_barriers_left()) === inHand - 4,
      `new walls at ${(await walls()).filter((c) => !before.has(c)).join(' ')}, ` +
      `${await page.evaluate(() => Module._web_barriers_left())} in hand of ${inHand}`);
    await tap('next');
    check(`${name}: the won level goes on to its tally`, await page.waitForFunction(
      () => Module._web_game_state() === 1, { timeout: 5000 }).then(() => true, () => false),
    `state ${await page.evaluate(() => Module._web_game_state())}`);
  }

  // Keys alone, as on a machine without a mouse: Enter on the focused start button, Space
  // through the story, the arrows and Space on the board, Enter to continue.
  await group('keys alone', async (pages) => {
    const page = await game(pages, '');
    await page.focus('#start');
    await page.keyboard.press('Enter');
    const keys = { advance: 'Space', place: 'Space', next: 'Enter' };
    await levelOneAlone(page, 'keys alone', (what, down) => {
      const [dx, dy] = Array.isArray(what) ? what : [0, 0];
      const key = keys[what] ?? (dx < 0 ? 'ArrowLeft' : dx > 0 ? 'ArrowRight' : dy < 0 ? 'ArrowUp' : 'ArrowDown');
      return down ? page.keyboard.down(key) : page.keyboard.up(key);
    });
  });

  // A game pad in the browser (harness.mjs's scripted pad): the pad alone plays on.
  await group('pad', async (pages) => {
    const page = await bare(pages);
    await page.evaluateOnNewDocument(scriptedPad);
    await openGame(page, origin, '');
    // Plugged in while the page waits, as a pad is woken by a press on a page already open.
    await page.evaluate(() => window.q47Pad.plug());
    // A pad alone starts the game: A pressed and let go on the start screen presses its button.
    await page.evaluate(() => window.q47Pad.set(0, true));
    await sleep(HOLD_MS);
    await page.evaluate(() => window.q47Pad.set(0, false));
    await page.waitForFunction(() => document.getElementById('start').hidden, { timeout: 10000 });
    // The standard layout's buttons: A 0, Start 9, the d-pad up 12, down 13, left 14, right 15.
    const buttons = { advance: 0, place: 0, next: 9 };
    await levelOneAlone(page, 'pad', (what, down) => {
      const [dx, dy] = Array.isArray(what) ? what : [0, 0];
      const index = buttons[what] ?? (dx < 0 ? 14 : dx > 0 ? 15 : dy < 0 ? 12 : 13);
      return page.evaluate((i, d) => window.q47Pad.set(i, d), index, down);
    });
  });

  // The page from the keyboard alone: Tab walks the buttons with a ring that shows where it is,
  // a focused button takes Enter and Space as its own press (the game never sees them), the
  // start button starts the game and hands the keys to the picture, and Escape hands them back.
  await group('keyboard', async (pages) => {
    const page = await game(pages, '');
    const focused = () => page.evaluate(() => {
      const e = document.activeElement;
      const style = getComputedStyle(e);
      return { id: e.id || e.tagName, outline: style.outlineStyle,
        width: Number.parseFloat(style.outlineWidth) };
    });
    const ring = (f) => f.outline !== 'none' && f.width >= 2;
    // Its name is what it shows, the help aside: a voice saying "click to play" finds it.
    const startButton = await page.$('#start');
    const named = await page.accessibility.snapshot({ root: startButton });
    check('keyboard: the start screen is a button named by its title and "to play"',
      await startButton.evaluate((e) => e.tagName === 'BUTTON') && named?.role === 'button' &&
      /^Q-47 (Click|Tap) to play$/.test(named?.name), JSON.stringify(named));

    const frames = () => page.evaluate(() => Module._web_frames());
    const framesBefore = await frames();
    // Save is there only once a run was kept, by an earlier group in this browser.
    const expected = await page.evaluate(() => ['start', 'open', 'save', 'edit']
      .filter((id) => !document.getElementById(id).disabled).join(' '));
    const order = [];
    for (let i = 0; i < expected.split(' ').length; i++) {
      await page.keyboard.press('Tab');
      order.push(await focused());
    }
    check('keyboard: Tab walks the start button and the bar\'s buttons in order',
      order.map((f) => f.id).join(' ') === expected, `${order.map((f) => f.id).join(' ')}, ` +
      `wanted ${expected}`);
    check('keyboard: each focused button shows a ring', order.every(ring),
      order.map((f) => `${f.id} ${f.outline} ${f.width}px`).join(', '));
    check('keyboard: an unfocused button shows none',
      await page.$eval('#open', (e) => getComputedStyle(e).outlineStyle) === 'none');

    // Space on Open is Open's: the file chooser, and the game still waits behind the overlay.
    await page.focus('#open');
    // The chooser is caught only once the browser was asked to catch it: on a busy machine that
    // takes a moment, and a press sent at once would open an uncaught one.
    const choosing = page.waitForFileChooser({ timeout: 5000 }).catch(() => null);
    await sleep(200);
    await page.keyboard.press('Space');
    const chooser = await choosing;
    await chooser?.cancel();
    check('keyboard: Space on Open opens the file chooser, not the game',
      chooser !== null && await page.$eval('#start', (e) => !e.hidden) &&
      await frames() === framesBefore, `chooser ${chooser !== null}, frames ${framesBefore} -> ` +
      `${await frames()}`);

    // Enter on the start button plays, and the keys are the picture's from there.
    await page.focus('#start');
    await page.keyboard.press('Enter');
    await page.waitForFunction(() => document.querySelector('#start').hidden, { timeout: 5000 });
    check('keyboard: Enter on the start button plays, with the keys on the picture',
      (await focused()).id === 'canvas', (await focused()).id);
    await page.keyboard.press('Escape', { delay: HOLD_MS });
    await page.waitForFunction(() => !document.querySelector('#start').hidden, { timeout: 5000 });
    check('keyboard: Escape ends the run and the focus is on the start button again',
      (await focused()).id === 'start', (await focused()).id);

    // Enter on Save (the run just ended is kept) saves, and the game still waits.
    const waiting = await frames();
    await page.focus('#save');
    await page.keyboard.press('Enter');
    await page.keyboard.press('Space');
    await sleep(200);
    check('keyboard: Enter and Space on Save leave the game waiting behind the overlay',
      await page.$eval('#start', (e) => !e.hidden) && await frames() === waiting &&
      (await focused()).id === 'save', `frames ${waiting} -> ${await frames()}`);

    // Save clicked with the mouse gives the keys back: Enter then starts the game, as before.
    await page.click('#save');
    check('keyboard: a mouse click on Save leaves no focus on it',
      (await focused()).id !== 'save', (await focused()).id);

    // Enter on Edit levels opens the editor on the levels in use; the picture has the keys.
    // The editor keeps a recovery copy as the page goes; it must not be offered to the editor's
    // group, which opens a pack of the same name.
    await page.evaluate(() => addEventListener('pagehide', () => localStorage.clear()));
    await page.focus('#edit');
    await page.keyboard.press('Enter');
    const editing = await page.waitForFunction(() => document.body.classList.contains('editing'),
      { timeout: 5000 }).then(() => true, () => false);
    check('keyboard: Enter on Edit levels opens the editor, and the picture takes the keys',
      editing && (await focused()).id === 'canvas', `editing ${editing}, focus ${(await focused()).id}`);
  });

  // A screen reader hears what the picture shows: the level and the barriers in hand when a
  // level begins, and the level won or lost, from watched golden runs.
  await group('said', async (pages) => {
    const page = await bare(pages);
    await page.evaluateOnNewDocument(() => {
      window.q47Said = [];
      new MutationObserver(() => {
        const text = document.querySelector('#said')?.textContent;
        if (text) window.q47Said.push(text);
      }).observe(document, { subtree: true, childList: true, characterData: true });
    });
    await openGame(page, origin, 'play=test/replays/intro-level1-win.q47r');
    check('said: the picture has a text alternative', await page.$eval('#canvas', (e) =>
      e.getAttribute('role') === 'img' && e.getAttribute('aria-label')?.length > 0 &&
      document.getElementById(e.getAttribute('aria-describedby'))?.textContent.length > 40));
    const won = await page.waitForFunction(
      () => window.q47Said.includes('Level 1 won.') && window.q47Said, { timeout: 30000 })
      .then((h) => h.jsonValue(), () => null);
    const heard = won ?? await page.evaluate(() => window.q47Said);
    const begun = heard.findIndex((t) => /^Level 1: \d+ barriers in hand\.$/.test(t));
    const placed = heard.findIndex((t) =>
      /^Barrier placed at column \d+, row \d+: \d+ barriers? in hand\.$/.test(t));
    check('said: level 1 is announced with its barriers, then the barriers placed, then won',
      won !== null && begun >= 0 && begun < placed && placed < heard.indexOf('Level 1 won.'),
      heard.join(' | '));
    check('said: the live region is polite', await page.$eval('#said',
      (e) => e.getAttribute('aria-live') === 'polite'));
    // A lost level is said once, when the chemical first touches an edge.
    await page.goto(`${origin}/index.html?play=test/replays/level01-lose.q47r`);
    const LOST = 'Level 1 lost: the chemical reached the edge.';
    const lost = await page.waitForFunction((text) => window.q47Said.includes(text) &&
      window.q47Said, { timeout: 60000 }, LOST).then((h) => h.jsonValue(), () => null);
    check('said: a lost level is said, once', lost?.filter((t) => t === LOST).length === 1,
      (lost ?? await page.evaluate(() => window.q47Said)).join(' | '));
    // Boards that are not square: the loss is said once, and only after the chemical touched an
    // edge (which the game's own cells show), never before.
    for (const [width, height] of [[8, 5], [5, 8]]) {
      const rows = Array.from({ length: height }, (_, y) => '.'.repeat(width).split('')
        .map((c, x) => (x === width >> 1 && y === height >> 1 ? 'I' : c)).join(''));
      writeFileSync(path.join(packs, `board${width}x${height}.q47l`), 'q47-level-pack 1\n' +
        'intro\n  white "$GO"\nend\nlevel\n' + `  size ${width} ${height}\n  barriers 3\n` +
        `  rate 60\n  map\n${rows.map((r) => `    ${r}\n`).join('')}end\n` +
        'final\n  white "$DONE"\n  black "~"\nend\n');
      await page.goto(`${origin}/index.html?levels=test/packs/board${width}x${height}.q47l&level=1`);
      await waitReady(page);
      await start(page);
      const early = await page.waitForFunction((w, h, text) => {
        let reached = false;
        for (let x = 0; x < w; x++) {
          for (let y = 0; y < h; y++) {
            const onEdge = x === 0 || y === 0 || x === w - 1 || y === h - 1;
            if (onEdge && (Module._web_cell_flags(x, y) & 1)) reached = true;
          }
        }
        const heard = window.q47Said.includes(text);
        if (heard && !reached) return 'said before the edge was reached';
        return heard && reached ? 'ok' : false;
      }, { timeout: 60000, polling: 20 }, width, height, LOST)
        .then((h) => h.jsonValue(), () => 'never said');
      await sleep(500);
      const heard = await page.evaluate(() => window.q47Said);
      check(`said: a ${width}x${height} board's loss is said once, when it happens`,
        early === 'ok' && heard.filter((t) => t === LOST).length === 1 &&
        heard.includes('Level 1: 3 barriers in hand.'), `${early}: ${heard.join(' | ')}`);
    }
  });

  // A phone held either way, and a desktop: zoom is allowed, every button is inside the screen
  // and a finger's size, also with the hub's histogram shown below the bar; the picture fills
  // its room in whole screen pixels (a 1280x800 screen no longer gets 640x480).
  await group('phone', async (pages) => {
    const page = await bare(pages);
    for (const [width, height, ratio] of [[390, 844, 3], [844, 390, 3], [412, 915, 2.625],
      [1280, 800, 1]]) {
      await page.setViewport({ width, height, deviceScaleFactor: ratio, isMobile: true,
        hasTouch: true });
      await page.goto(`${origin}/index.html`);
      await waitReady(page);
      const at = `${width}x${height} at ${ratio}x`;
      // What a hub's page shows below the bar after a level won: a histogram and its rating.
      if (width === 844) {
        await page.evaluate(() => {
          const scores = document.getElementById('hub-scores');
          const shown = document.createElement('figure');
          shown.style.height = '160px';
          shown.textContent = 'level 1: your score 14, best possible 16, 3 players';
          scores.replaceChildren(shown);
          scores.hidden = false;
        });
        await sleep(200);
      }
      const m = await page.evaluate(() => ({
        buttons: [...document.querySelectorAll('#bar button')].filter((b) => b.offsetParent)
          .map((b) => { const r = b.getBoundingClientRect();
            return { text: b.textContent, left: r.left, top: r.top, right: r.right,
              bottom: r.bottom, height: r.height }; }),
        canvas: document.querySelector('#canvas').getBoundingClientRect().width,
        canvasBottom: document.querySelector('#canvas').getBoundingClientRect().bottom,
        stage: [document.querySelector('#stage').clientWidth,
          document.querySelector('#stage').clientHeight],
        barTop: document.querySelector('#bar').getBoundingClientRect().top,
        viewport: document.querySelector('meta[name=viewport]').content,
        inner: [innerWidth, innerHeight],
      }));
      check(`phone ${at}: zoom allowed`, !/user-scalable|maximum-scale/.test(m.viewport),
        m.viewport);
      check(`phone ${at}: the five key buttons and the bar's own are shown`,
        m.buttons.length >= 7, m.buttons.map((b) => b.text).join(' '));
      const out = m.buttons.filter((b) => b.left < 0 || b.top < 0 || b.right > m.inner[0] ||
        b.bottom > m.inner[1] || b.height < 44);
      const touch = ratio !== 1;
      if (touch) {
        check(`phone ${at}: every button inside the screen and 44 px tall`, out.length === 0,
          out.map((b) => `${b.text} ${Math.round(b.left)},${Math.round(b.top)} ` +
            `${Math.round(b.height)} px`).join('; '));
      }
      check(`phone ${at}: the picture never covers the bar`, m.canvasBottom <= m.barTop + 0.5,
        `picture to ${m.canvasBottom}, bar from ${m.barTop}`);
      // Layout keeps sizes to 1/64 of a CSS pixel: whole screen pixels within that.
      const across = m.canvas * ratio;
      const room = Math.min(m.stage[0] / 640, m.stage[1] / 480);
      check(`phone ${at}: the picture fills its room in whole screen pixels`,
        Math.abs(across - Math.round(across)) < 0.05 &&
        m.canvas > 640 * room - 1 && m.canvas <= 640 * room + 0.01,
        `${m.canvas} CSS px across, room for ${640 * room}`);
    }
    // The intro's story on a small phone: the picture's line (13 game pixels from the top of its
    // capitals to the foot of its descenders, as frame 40 of the intro run draws it) would be
    // 7 to 8 CSS px high, so the page shows the line the frame told in its own text, at least
    // 16 CSS px high, inside the screen and above the bar, and not under the start overlay.
    for (const [width, height] of [[360, 640], [390, 844]]) {
      await page.setViewport({ width, height, deviceScaleFactor: 3, isMobile: true, hasTouch: true });
      await page.goto(`${origin}/index.html`);
      await waitReady(page);
      await sleep(300);
      const underStart = await page.$eval('#story', (e) => !e.hidden);
      await page.tap('#start');
      const shown = await page.waitForFunction(() => !document.querySelector('#story').hidden,
        { timeout: 20000 }).then(() => true, () => false);
      const s = await page.evaluate(() => {
        const e = document.querySelector('#story');
        const r = e.getBoundingClientRect();
        return { text: e.textContent, size: parseFloat(getComputedStyle(e).fontSize),
          top: r.top, bottom: r.bottom, barTop: document.querySelector('#bar').getBoundingClientRect().top,
          picture: document.querySelector('#canvas').getBoundingClientRect().width / 640 };
      });
      console.log(`# story at ${width}x${height}: the picture's line ${(13 * s.picture).toFixed(1)} ` +
        `CSS px high, the page's ${s.size} px text (${Math.round(s.bottom - s.top)} px box)`);
      check(`phone ${width}x${height}: the story line is shown in readable text`, shown &&
        /^[A-Z]/.test(s.text) && s.size >= 16 && s.top >= 0 &&
        s.bottom <= s.barTop && !underStart, JSON.stringify({ ...s, underStart }));
    }
  });

  // A phone played by a finger alone: two fingers zoom the board until a cell is a finger's
  // size, and level 1 is won by taps that each land up to 5 CSS pixels off the cell's centre,
  // then the bar's Enter.
  await group('finger', async (pages) => {
    const page = await bare(pages);
    await page.setViewport({ width: 390, height: 844, deviceScaleFactor: 3, isMobile: true,
      hasTouch: true });
    await page.goto(`${origin}/index.html?level=1`);
    await waitReady(page);
    const box = () => page.$eval('#canvas', (c) => {
      const r = c.getBoundingClientRect();
      return { left: r.left, top: r.top, scale: r.width / 640 };
    });
    const centre = async (selector) => page.$eval(selector, (e) => {
      const r = e.getBoundingClientRect();
      return [r.left + r.width / 2, r.top + r.height / 2];
    });
    await page.touchscreen.tap(...await centre('#start'));
    await page.waitForFunction(() => document.querySelector('#start').hidden &&
      Module._web_game_state() === 0, { timeout: 20000 });
    const cdp = await page.createCDPSession();
    const fingers = (type, spread, [x, y]) => cdp.send('Input.dispatchTouchEvent', {
      type,
      touchPoints: type === 'touchEnd' ? [] : [{ x: x - spread, y, id: 1 }, { x: x + spread, y, id: 2 }],
    });
    // Pinched open threefold around level 1's leak: the room's gaps all stay in sight.
    const before = await box();
    const leak = [before.left + (80 + 14.5 * 16) * before.scale, before.top + 15.5 * 16 * before.scale];
    await fingers('touchStart', 20, leak);
    for (let spread = 25; spread <= 60; spread += 5) {
      await fingers('touchMove', spread, leak);
      await sleep(16);
    }
    await fingers('touchEnd', 0, leak);
    const zoomed = await box();
    const cell = zoomed.scale * 16;
    check('finger: two fingers zoom the board until a cell is at least 24 CSS px',
      cell >= 24 && await page.evaluate(() => Module._web_barriers_left()) === 50,
      `cell ${cell.toFixed(1)} px, barriers ${await page.evaluate(() => Module._web_barriers_left())}`);
    const offsets = [];
    for (const [x, y] of [[10, 12], [18, 16], [10, 17], [11, 18]]) {
      const off = [Math.random() * 10 - 5, Math.random() * 10 - 5];
      offsets.push(off.map((v) => v.toFixed(1)).join(','));
      await page.touchscreen.tap(zoomed.left + (80 + 16 * x + 8) * zoomed.scale + off[0],
        zoomed.top + (16 * y + 8) * zoomed.scale + off[1]);
      await sleep(250);
    }
    const walls = await page.evaluate(() => [[10, 12], [18, 16], [10, 17], [11, 18]]
      .map(([x, y]) => (Module._web_cell_flags(x, y) & 2) !== 0));
    check('finger: each tap walls the cell it meant', walls.every(Boolean),
      `${JSON.stringify(walls)}, taps off by ${offsets.join(' ')}`);
    await page.touchscreen.tap(...await centre('#bar [data-key="Enter"]'));
    const won = await page.waitForFunction(() => Module._web_game_state() === 1, { timeout: 5000 })
      .then(() => true, () => false);
    check('finger: level 1 won by touch alone on a 390x844 phone', won,
      `state ${await page.evaluate(() => Module._web_game_state())}`);
    // Pinched shut again, the whole picture shows as before.
    await fingers('touchStart', 60, leak);
    for (let spread = 50; spread >= 10; spread -= 10) {
      await fingers('touchMove', spread, leak);
      await sleep(16);
    }
    await fingers('touchEnd', 0, leak);
    check('finger: pinched shut, the whole picture shows again',
      (await box()).scale === before.scale, `${(await box()).scale} against ${before.scale}`);
  });

  // Level packs given by URL: a broken one is told line for line as the native checker tells
  // it, and the game still runs; a good one plays its own levels, as the checker's own winning
  // plans verify to the native lines.
  await group('level packs', async (pages) => {
    writeFileSync(path.join(packs, 'bad.q47l'), 'q47-level-pack 1\nintro\n  red "HI"\nend\n' +
      'level\n  size 99\n  barriers 1\n  map\n    Q\nend\n');
    const nativeCheck = native(q47, ['--check', path.join(packs, 'bad.q47l')]);
    // The file is named differently on each side (a path here, a URL there): compare from the
    // line and column on, and that the name ends in the file's own.
    const located = (text) => text.trim().split('\n').map((line) => {
      const found = /^(.*?)(:\d+:\d+: .*)$/.exec(line.trim());
      return found && found[1].endsWith('bad.q47l') ? found[2] : `(unlocated) ${line}`;
    });
    const page = await game(pages, 'levels=test/packs/bad.q47l');
    const message = await page.$eval('#message', (e) => e.textContent);
    const want = located(nativeCheck.stderr), got = located(message);
    check('broken pack: the native checker refuses it',
      nativeCheck.status === 2 && want.length >= 3, nativeCheck.stderr);
    check('broken pack: #message says what the native checker says',
      JSON.stringify(got) === JSON.stringify(want),
      `page:\n${message}\nnative:\n${nativeCheck.stderr}`);
    await start(page);
    const frames = await page.evaluate(() => Module._web_frames());
    await sleep(500);
    check('broken pack: the game still runs',
      await page.evaluate(() => Module._web_frames()) > frames);

    const pack = path.join(ROOT, 'levels/first-shift.q47l');
    const plans = path.join(packs, 'plans');
    mkdirSync(plans);
    native(q47, ['--check', pack, '--write-replays', plans]);
    const planNames = readdirSync(plans).sort();
    check('good pack: the checker wrote its plans', planNames.length >= 5, planNames.join(' '));
    for (const plan of planNames) {
      const expected = native(q47, ['--levels', pack, '--verify', path.join(plans, plan)]);
      await page.goto(`${origin}/index.html?levels=test/levels/first-shift.q47l` +
        `&verify=test/packs/plans/${plan}`);
      const line = await outputLine(page);
      check(`good pack: verify plan ${plan}`, sameRun(line, expected),
        `browser "${line}", native "${expected.stdout.trim()}"`);
    }
  });

  // Hostile links and files: a huge pack by link or by the Open button is refused by its size
  // before the game's memory takes it, in the desktop's words; a binary pack is said to be no
  // text as the native checker says it; a link option given twice and a level out of range are
  // told on the page.
  await group('hostile input', async (pages) => {
    const huge = path.join(packs, 'huge.q47l');
    writeFileSync(huge, Buffer.alloc(50 << 20, 0x23));
    const said = (page) => page.$eval('#message', (e) => e.textContent);
    const memory = (page) => page.evaluate(() => Module.HEAPU8.length);
    // A 50 MB file that reached the game would grow its memory by at least that much.
    const plain = await memory(await game(pages, ''));
    const unmoved = async (page) => await memory(page) < plain + (16 << 20);
    let page = await game(pages, 'levels=test/packs/huge.q47l');
    check('huge pack by link: refused by its size',
      (await said(page)).includes('huge.q47l: too large for a level pack (over 4 MiB)'),
      await said(page));
    check('huge pack by link: the memory did not grow', await unmoved(page),
      `${plain} then ${await memory(page)} bytes`);
    page = await game(pages, '');
    await (await page.$('#file')).uploadFile(huge);
    await page.waitForFunction(() => document.querySelector('#message').textContent.includes(
      'q47: huge.q47l: too large for a level pack'), { timeout: 20000 });
    check('huge pack opened: the memory did not grow', await unmoved(page),
      `${plain} then ${await memory(page)} bytes`);
    rmSync(huge);

    const replay = path.join(REPLAYS, 'level01-win.q47r');
    const nativeBinary = native(q47, ['--check', replay]);
    page = await game(pages, 'levels=test/replays/level01-win.q47r');
    const binaryLine = (text) => /:\d+:\d+: not a text file.*/.exec(text)?.[0];
    check('binary pack: said to be no text, as the native checker says',
      nativeBinary.status === 2 && binaryLine(nativeBinary.stderr) !== undefined &&
      binaryLine(await said(page)) === binaryLine(nativeBinary.stderr),
      `page: ${await said(page)} native: ${nativeBinary.stderr}`);

    // Texts from the page's storage and links, far past what the game takes: refused with a
    // line before they are copied into its memory, never a memory fault, on every reload.
    page = await game(pages, '');
    const big = 'x'.repeat(2 << 20);
    await page.evaluate((text) => {
      localStorage.setItem('q47.settings', `music_volume 90\n#${text}`);
      localStorage.setItem('q47.recovery.levels.q47l', `#${text}`);
    }, big);
    page.q47Log.length = 0;
    await page.reload();
    await waitReady(page);
    const settingsSaid = page.q47Log.filter((line) => line.includes('q47.settings: too long'));
    check('stored settings over the limit: refused with a line, the defaults played',
      settingsSaid.length === 1 && !page.q47Log.some((line) => line.startsWith('pageerror')) &&
      (await page.evaluate(() => Module.ccall('web_settings_text', 'string', [], [])))
        .includes('\nmusic_volume 100\n'), page.q47Log.slice(-4).join(' | '));
    await page.goto(`${origin}/index.html?edit`);
    await waitReady(page);
    check('a stored recovery copy of 2 MB: the editor opens without a fault',
      await page.waitForFunction(() => Module._web_edit_level_count() >= 1, { timeout: 10000 })
        .then(() => !page.q47Log.some((line) => line.startsWith('pageerror')), () => false),
      page.q47Log.slice(-4).join(' | '));
    await page.evaluate(() => {
      localStorage.removeItem('q47.settings');
      localStorage.removeItem('q47.recovery.levels.q47l');
    });
    page = await bare(pages);
    await page.goto(`${origin}/index.html?edit#pack=Q47P1:${'A'.repeat(2000000)}`);
    await waitReady(page);
    const linkSaid = await page.waitForFunction(
      () => document.querySelector('#message').textContent, { timeout: 10000 })
      .then((h) => h.jsonValue(), () => '');
    check('a #pack= link of 2 M characters: a line, not a memory fault',
      /^code: /.test(linkSaid) && !page.q47Log.some((line) => line.startsWith('pageerror')),
      `${linkSaid} ${page.q47Log.slice(-4).join(' | ')}`);

    page = await game(pages, 'level=3&level=5');
    check('a link option given twice is refused',
      (await said(page)).includes("link option 'level' given twice"), await said(page));
    page = await game(pages, 'level=0');
    check('?level=0 names the range of the levels in use',
      (await said(page)).includes('level=0: not a level (a whole number from 1 to 10)'),
      await said(page));
  });

  // The level editor: cells painted with the mouse on a new pack are in the text Ctrl+S keeps,
  // which the native checker reads with a winning plan; the page's share link opens that very
  // pack in the editor; a damaged code is told as the desktop tells it.
  await group('editor', async (pages) => {
    const page = await game(pages, 'edit');
    await page.waitForFunction(() => Module._web_edit_level_count() === 1, { timeout: 10000 });
    check('editor: ?edit opens a new pack without the start overlay',
      await page.$eval('#start', (e) => e.hidden));
    // A new level is 12 x 12 cells on the 480-pixel board from canvas x 80.
    const SIZE = 12, CELL = 480 / SIZE;
    const point = async (x, y) => {
      const r = await page.$eval('canvas', (c) => {
        const b = c.getBoundingClientRect();
        return { left: b.left + c.clientLeft, top: b.top + c.clientTop, scale: c.clientWidth / c.width };
      });
      return [r.left + (80 + CELL * x + CELL / 2) * r.scale, r.top + (CELL * y + CELL / 2) * r.scale];
    };
    const stroke = async (cells) => {
      await page.mouse.move(...await point(...cells[0]));
      await page.mouse.down();
      await sleep(HOLD_MS);
      for (const cell of cells.slice(1)) {
        await page.mouse.move(...await point(...cell), { steps: 4 });
        await sleep(HOLD_MS);
      }
      await page.mouse.up();
      await sleep(HOLD_MS);
    };
    const chord = async (key) => {
      await page.keyboard.down('Control');
      await page.keyboard.down(key);
      await sleep(HOLD_MS);
      await page.keyboard.up(key);
      await page.keyboard.up('Control');
      await sleep(HOLD_MS);
    };
    const saved = (p) => p.evaluate(() => localStorage.getItem('q47.pack.levels.q47l'));
    await page.evaluate(() => localStorage.clear());
    await stroke([[1, 1]]);
    await stroke([[10, 2]]);
    await stroke([[2, 9], [4, 9]]);
    const painted = new Set(['1,1', '10,2', '2,9', '3,9', '4,9']);
    await chord('KeyS');
    await page.waitForFunction(() => localStorage.getItem('q47.pack.levels.q47l'), { timeout: 5000 });
    const text = await saved(page);
    const file = path.join(packs, 'edited.q47l');
    writeFileSync(file, text);
    const checked = native(q47, ['--check', file]);
    check('editor: the saved pack is one the native checker wins', checked.status === 0,
      `exit ${checked.status}: ${checked.stderr}\n${text}`);
    const rows = text.split(/^\s*map\n/m)[1].split('\n').slice(0, SIZE).map((row) => row.trim());
    const wrong = [];
    for (let y = 0; y < SIZE; y++) {
      for (let x = 0; x < SIZE; x++) {
        const leak = (x === 5 || x === 6) && (y === 5 || y === 6);
        const want = painted.has(`${x},${y}`) ? 'W' : leak ? 'I' : '.';
        if (rows[y]?.[x] !== want) wrong.push(`(${x}, ${y}) ${rows[y]?.[x]} not ${want}`);
      }
    }
    check('editor: the saved map has the cells as painted', wrong.length === 0, wrong.join('; '));

    await page.click('#share');
    const link = await page.$eval('#link', (e) => e.value);
    check('editor: the share link opens the editor on a code',
      link.startsWith(`${origin}/index.html?edit#pack=Q47P1:`), link);
    const shared = await bare(pages);
    await shared.goto(link);
    await waitReady(shared);
    const cells = await shared.evaluate((size) => {
      let letters = '';
      for (let y = 0; y < size; y++) {
        for (let x = 0; x < size; x++) letters += String.fromCharCode(Module._web_edit_cell(x, y));
      }
      return letters;
    }, SIZE);
    check('editor: the shared link opens the same map', cells === rows.join(''),
      `${cells}\n${rows.join('')}`);
    await shared.evaluate(() => localStorage.clear());
    await shared.bringToFront();
    await shared.focus('canvas');
    const sharedChord = async (key) => {
      await shared.keyboard.down('Control');
      await shared.keyboard.down(key);
      await sleep(HOLD_MS);
      await shared.keyboard.up(key);
      await shared.keyboard.up('Control');
    };
    await sharedChord('KeyS');
    await shared.waitForFunction(() => localStorage.getItem('q47.pack.levels.q47l'), { timeout: 5000 });
    check('editor: the shared pack saves to the same text', await saved(shared) === text);
    await shared.keyboard.press('Escape', { delay: HOLD_MS });
    await shared.waitForFunction(() => !document.querySelector('#start').hidden, { timeout: 5000 })
      .catch(() => {});
    check('editor: Escape on a saved pack goes back to the start overlay',
      await shared.$eval('#start', (e) => !e.hidden));

    // Test-play keeps the unsaved work as a recovery copy, runs the level, and Escape comes back.
    await page.bringToFront();
    await stroke([[10, 10]]);
    await page.keyboard.press('KeyT', { delay: HOLD_MS });
    const testing = await page.waitForFunction(() => Module._web_edit_level_count() === -1 &&
      Module._web_game_state() === 0 && Module._web_level_number() === 1, { timeout: 5000 })
      .then(() => true, () => false);
    check('editor: T test-plays the level', testing);
    // The test-play draws its leak (the four cells at 5..6, 5..6) in the chemical's green.
    await sleep(500);
    const leak = await canvasPixels(page);
    let green = 0;
    for (let y = 5 * CELL; y < 7 * CELL; y++) {
      for (let x = 80 + 5 * CELL; x < 80 + 7 * CELL; x++) {
        const i = 4 * (y * leak.width + x);
        green += leak.rgba[i + 1] > leak.rgba[i] && leak.rgba[i + 1] > leak.rgba[i + 2];
      }
    }
    check('editor: the test-play draws the chemical', green >= CELL * CELL * 3,
      `${green} green pixels in the leak's ${4 * CELL * CELL}`);
    const recovery = await page.evaluate(() => localStorage.getItem('q47.recovery.levels.q47l'));
    check('editor: test-play keeps a recovery copy with the unsaved cell',
      recovery?.split(/^\s*map\n/m)[1]?.split('\n')[10]?.trim()[10] === 'W', recovery);
    await page.keyboard.press('Escape', { delay: HOLD_MS });
    check('editor: Escape ends the test-play in the editor', await page.waitForFunction(
      () => Module._web_edit_level_count() === 1 && Module._web_edit_cell(10, 10) === 87,
      { timeout: 5000 }).then(() => true, () => false));

    await page.goto(`${origin}/index.html?edit#pack=Q47P1:damaged`);
    await waitReady(page);
    // The same page with only a new fragment: the page opens it on hashchange.
    const said = await page.waitForFunction(() => document.querySelector('#message').textContent,
      { timeout: 5000 }).then((h) => h.jsonValue(), () => '');
    check('editor: a damaged code is said as "code: ..."', /^code: /.test(said), said);
  });

  // The game heard through an AnalyserNode on its own output: the warning effect on the
  // intro's first line, the music once the intro is skipped, and silence after M mutes.
  await group('sound', async (pages) => {
    const page = await game(pages, '');
    await page.evaluate(() => {
      window.q47Start();
      const context = Module.SDL2.audioContext;
      const analyser = context.createAnalyser();
      analyser.fftSize = 2048;
      if (window.q47AudioTap) window.q47AudioTap(analyser);
      else Module.SDL2.audio.scriptProcessorNode.connect(analyser);
      // Pulled through a silent gain: an analyser only hears while something consumes it.
      const sink = context.createGain();
      sink.gain.value = 0;
      analyser.connect(sink).connect(context.destination);
      window.testAnalyser = analyser;
    });
    // The loudest sample heard over ms milliseconds.
    const loudest = (ms) => page.evaluate((ms) => new Promise((done) => {
      const samples = new Float32Array(window.testAnalyser.fftSize);
      let peak = 0;
      const timer = setInterval(() => {
        window.testAnalyser.getFloatTimeDomainData(samples);
        for (const s of samples) peak = Math.max(peak, Math.abs(s));
      }, 20);
      setTimeout(() => { clearInterval(timer); done(peak); }, ms);
    }), ms);
    const intro = await loudest(1500);
    const context = await page.evaluate(() => Module.SDL2.audioContext.state);
    check(`sound: the warning on the intro's first line (peak ${intro.toFixed(3)})`, intro > 0.01,
      `context ${context}`);

    // Space and Enter through every line of the intro, until level 1 plays.
    for (let i = 0; i < 40; i++) {
      if (await page.evaluate(() => Module._web_game_state() === 0)) break;
      await page.keyboard.press(i % 2 ? 'Enter' : 'Space', { delay: HOLD_MS });
      await sleep(150);
    }
    check('sound: the intro skipped to level 1', await page.evaluate(
      () => Module._web_game_state() === 0 && Module._web_level_number() === 1));
    await sleep(500);
    const music = await loudest(1500);
    check(`sound: music in level 1 (peak ${music.toFixed(3)})`, music > 0.01);
    await page.keyboard.press('KeyM', { delay: HOLD_MS });
    await sleep(500);
    const muted = await loudest(1000);
    check(`sound: silence after M (peak ${muted.toFixed(4)})`, muted < 0.001);
  });

  // A first visit (a browser context of its own: no cache, no service worker yet), the start
  // button pressed at once: the game starts once it has loaded, and its files come over the
  // network once, the worker's copy serving the game. On the next visit the plain page fetches
  // nothing of the game until a player shows up.
  await group('loading', async (pages) => {
    const context = await browser.createBrowserContext();
    const page = await loggedPage(context);
    pages.push(page);
    server.bytes.clear();
    await page.goto(`${origin}/index.html`);
    // Pressed with no sign before it (as a screen reader presses it), in one task with the
    // look at the button, so the game cannot have loaded in between.
    const waiting = await page.$eval('#start', (e) => {
      e.click();
      return e.classList.contains('waiting');
    });
    check('loading: the start button pressed early says it is loading', waiting);
    // The module's calls exist before it is instantiated: its first frame comes first.
    const played = await page.waitForFunction(() => window.q47FirstFrameMs !== undefined &&
      Module._web_frames() > 10 && document.querySelector('#start').hidden,
    { timeout: 30000 }).then(() => true, () => false);
    check('loading: a press before the game loaded starts it once loaded', played &&
      !await page.$eval('#start', (e) => e.classList.contains('waiting')));
    const sent = ['q47.js', 'q47.wasm.gzip', 'q47.data'].map((name) =>
      `${name} ${server.bytes.get(`/${name}`)} of ${statSync(path.join(site, name)).size}`);
    check('loading: on a first visit each of its files crossed the network once',
      sent.every((line) => /^\S+ (\d+) of \1$/.test(line)), sent.join(', '));

    // A key is a sign too: the first Enter on a fresh page loads the game and starts it.
    await page.goto(`${origin}/index.html`);
    await page.keyboard.press('Enter');
    const entered = await page.waitForFunction(() => window.q47FirstFrameMs !== undefined &&
      document.querySelector('#start').hidden && Module._web_frames() > 10, { timeout: 30000 })
      .then(() => true, () => false);
    check('loading: the first Enter on a fresh page starts the game', entered);

    await page.goto(`${origin}/index.html`);
    await sleep(500);
    const fetched = () => page.evaluate(() => performance.getEntriesByType('resource')
      .map((e) => new URL(e.name).pathname).filter((p) => /\/q47\.(js|wasm\.gzip|data)$/.test(p)));
    const early = await fetched();
    check('loading: nothing of the game is fetched before a sign of the player',
      early.length === 0, early.join());
    await page.mouse.move(20, 20);
    const files = await page.waitForFunction(() => window.q47FirstFrameMs !== undefined,
      { timeout: 30000 }).then(fetched, () => []);
    check('loading: a pointer on the page loads the game, each file once',
      ['/q47.js', '/q47.wasm.gzip', '/q47.data']
        .every((name) => files.filter((p) => p === name).length === 1), files.join());
    await page.close();
    await context.close();
  });

  // A new version installed while the old one runs: the page says so, keeps running the old
  // one meanwhile, and its Reload button loads the new one at once.
  await group('update', async (pages) => {
    const page = await bare(pages);
    await openGame(page, nextServer.origin, '');
    const controlled = () => page.evaluate(async () => {
      await navigator.serviceWorker.ready;
      for (let i = 0; i < 100 && !navigator.serviceWorker.controller; i++) {
        await new Promise((done) => setTimeout(done, 100));
      }
      return navigator.serviceWorker.controller !== null;
    });
    check('update: the first visit is controlled and says nothing of a new version',
      await controlled() && await page.$eval('#update', (e) => e.hidden));
    const caches = () => page.evaluate(() => caches.keys());
    const before = await caches();
    // Any change to the site is a new cache name in the worker: a new version.
    const worker = path.join(nextSite, 'sw.js');
    writeFileSync(worker, readFileSync(worker, 'utf8').replace("'q47-", "'q47-next-"));
    // The player only reloads, once.
    await page.reload();
    await waitReady(page);
    const told = await page.waitForFunction(() => !document.querySelector('#update').hidden,
      { timeout: 30000 }).then(() => true, () => false);
    const both = await caches();
    check('update: a new version is told at the first reload, and the old copy is kept meanwhile',
      told && before.every((name) => both.includes(name)) &&
      both.some((name) => name.startsWith('q47-next-')), `told ${told}, ${both.join()}`);
    if (!told) return;
    await Promise.all([page.waitForNavigation({ timeout: 30000 }), page.click('#reload')]);
    await waitReady(page);
    await controlled();
    const after = await caches();
    check('update: Reload loads the new version and drops the old copy',
      after.length === 1 && after[0].startsWith('q47-next-') &&
      await page.$eval('#update', (e) => e.hidden), after.join());
  });

  // After one visit the service worker holds the site: with the network gone (the browser set
  // offline and our server dropping every connection) a reload still starts the game.
  await group('offline', async (pages) => {
    const page = await game(pages, '');
    const controlled = await page.evaluate(async () => {
      await navigator.serviceWorker.ready;
      if (!navigator.serviceWorker.controller) {
        await Promise.race([
          new Promise((done) => navigator.serviceWorker.oncontrollerchange = done),
          new Promise((done) => setTimeout(done, 10000)),
        ]);
      }
      return navigator.serviceWorker.controller !== null;
    });
    check('offline: a service worker controls the page after one load', controlled);
    server.refusing = true;
    await page.setOfflineMode(true);
    await page.reload();
    const started = await waitReady(page, 30000).then(() => true, () => false);
    check('offline: the reloaded page reached q47Ready', started);
    if (!started) return;
    await start(page);
    const frames = await page.evaluate(() => Module._web_frames());
    await sleep(300);
    check('offline: the intro runs', await page.evaluate(() => Module._web_frames()) > frames);
    server.refusing = false;
  });

  check('no uncaught errors in any page', pageErrors.length === 0, pageErrors.join('\n    '));
} finally {
  await browser.close();
  await server.close();
  await nextServer.close();
  rmSync(scratch, { recursive: true, force: true });
}
console.log(`${passed} passed, ${failed} failed`);
process.exitCode = failed ? 1 : 0;
