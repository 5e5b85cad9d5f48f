// What the browser tests and the browser benchmark share: the native game run for reference,
// a file server on loopback, Debian's chromium (or firefox-esr), the game's page and a PNG
// reader.
import http from 'node:http';
import { spawnSync } from 'node:child_process';
import { readFile, stat } from 'node:fs/promises';
import { existsSync } from 'node:fs';
import path from 'node:path';
import zlib from 'node:zlib';
import { fileURLToPath } from 'node:url';
import puppeteer from 'puppeteer-core';

export const ROOT = path.resolve(path.dirname(fileURLToPath(import.meta.url)), '../..');
export const CHROMIUM = process.env.CHROMIUM ?? '/usr/bin/chromium';
// Q47_WEB_BROWSER=firefox runs the same pages in Debian's firefox-esr, driven by the same
// puppeteer-core over WebDriver BiDi; chromium otherwise.
export const ENGINE = process.env.Q47_WEB_BROWSER || 'chromium';
export const FIREFOX = process.env.FIREFOX ?? '/usr/bin/firefox-esr';
if (!['chromium', 'firefox'].includes(ENGINE)) {
  throw new Error(`Q47_WEB_BROWSER=${ENGINE}: not a browser the tests drive (chromium or firefox)`);
}
export const sleep = (ms) => new Promise((done) => setTimeout(done, ms));

// Runs the native game; its output is the reference every browser figure is held to.
export function native(q47, args) {
  const run = spawnSync(q47, args, { encoding: 'utf8', timeout: 120000 });
  if (run.error) throw new Error(`${q47} ${args.join(' ')}: ${run.error.message}`);
  return { status: run.status, stdout: run.stdout, stderr: run.stderr };
}

// "levels L, score S, F frames, R frames/s, checksum C" without the speed, which is the one
// figure that may differ between two runs of the same replay.
export const withoutSpeed = (line) => line.trim().replace(/, [0-9.]+ frames\/s/, '');
export const speedOf = (line) => Number(/([0-9.]+) frames\/s/.exec(line)?.[1] ?? NaN);

const TYPES = {
  '.html': 'text/html', '.js': 'text/javascript', '.mjs': 'text/javascript',
  '.wasm': 'application/wasm', '.json': 'application/json', '.css': 'text/css',
  '.png': 'image/png', '.svg': 'image/svg+xml', '.ico': 'image/x-icon',
  '.webmanifest': 'application/manifest+json', '.ogg': 'audio/ogg', '.wav': 'audio/wav',
  '.ttf': 'font/ttf', '.q47l': 'text/plain', '.q47r': 'application/octet-stream',
};

// Serves mounts = { '/': dir, '/test/replays/': dir, ... } on 127.0.0.1 and a free port. Our own
// server rather than a module's: wasm must come over http with its MIME type, a service worker
// needs an http origin, and `refusing` lets a test take the network away for real (browser
// offline emulation does not reach every fetch a service worker makes). bytes counts what was
// sent, by path.
export async function serve(mounts) {
  const prefixes = Object.keys(mounts).sort((a, b) => b.length - a.length);
  const state = { refusing: false, bytes: new Map() };
  const server = http.createServer(async (req, res) => {
    if (state.refusing) {
      req.socket.destroy();
      return;
    }
    try {
      let pathname = decodeURIComponent(new URL(req.url, 'http://h').pathname);
      if (pathname.endsWith('/')) pathname += 'index.html';
      const prefix = prefixes.find((p) => pathname.startsWith(p));
      const dir = path.resolve(mounts[prefix]);
      const file = path.join(dir, path.normalize(pathname.slice(prefix.length)));
      if (!file.startsWith(dir + path.sep) || !(await stat(file)).isFile()) throw new Error();
      // A validator, as any static server sends: a copy the browser holds is revalidated
      // with a 304 and no body.
      const { size, mtimeMs } = await stat(file);
      const tag = `"${size}-${Math.floor(mtimeMs)}"`;
      if (req.headers['if-none-match'] === tag) {
        res.writeHead(304, { etag: tag, 'cache-control': 'no-cache' }).end();
        return;
      }
      const body = await readFile(file);
      res.writeHead(200, {
        'content-type': TYPES[path.extname(file)] ?? 'application/octet-stream',
        'cache-control': 'no-cache',
        etag: tag,
      });
      res.end(req.method === 'HEAD' ? undefined : body);
      state.bytes.set(pathname, (state.bytes.get(pathname) ?? 0) + body.length);
    } catch {
      res.writeHead(404).end();
    }
  });
  await new Promise((ok) => server.listen(0, '127.0.0.1', ok));
  state.origin = `http://127.0.0.1:${server.address().port}`;
  state.close = () => new Promise((done) => {
    server.closeAllConnections();
    server.close(done);
  });
  return state;
}

// The reasons a run cannot even start, said plainly: the test tools come from ./run test.
export function missingTools(siteDir) {
  const missing = [];
  if (ENGINE === 'firefox') {
    if (!existsSync(FIREFOX)) missing.push(`no firefox at ${FIREFOX} (Debian package firefox-esr)`);
  } else if (!existsSync(CHROMIUM)) {
    missing.push(`no chromium at ${CHROMIUM} (Debian package chromium)`);
  }
  if (!existsSync(path.join(siteDir, 'index.html'))) {
    missing.push(`no built site in ${siteDir} (web/build needs Debian's emscripten)`);
  }
  return missing;
}

export function launch() {
  const viewport = { width: 1280, height: 1024, deviceScaleFactor: 1 };
  if (ENGINE === 'firefox') {
    return puppeteer.launch({
      browser: 'firefox',
      executablePath: FIREFOX,
      protocol: 'webDriverBiDi',
      headless: true,
      // As chromium's flag below: the game's sound starts without a click.
      extraPrefsFirefox: { 'media.autoplay.default': 0 },
      defaultViewport: viewport,
    });
  }
  return puppeteer.launch({
    executablePath: CHROMIUM,
    headless: true,
    // Root in a container has no user namespace for the sandbox; the game's sound must start
    // without a click, as the page's own q47Start() expects of a test.
    args: ['--no-sandbox', '--autoplay-policy=no-user-gesture-required'],
    defaultViewport: viewport,
  });
}

// A page whose errors and console lines are kept on page.q47Log, for the failure messages.
export async function loggedPage(browser) {
  const page = await browser.newPage();
  page.q47Log = [];
  page.on('pageerror', (e) => page.q47Log.push(`pageerror: ${e.message ?? e}`));
  page.on('console', (m) => page.q47Log.push(`${m.type()}: ${m.text()}`));
  return page;
}

// For evaluateOnNewDocument: navigator.getGamepads answers a scripted pad of the "standard"
// layout, plugged in with the gamepadconnected event a browser sends (q47Pad.plug()); every
// change of its buttons (q47Pad.set(index, down)) gets a new timestamp, as a real pad's state does.
export function scriptedPad() {
  const pad = {
    id: 'Q-47 scripted pad (STANDARD GAMEPAD)', index: 0, connected: false, mapping: 'standard',
    timestamp: 1, axes: [0, 0, 0, 0],
    buttons: Array.from({ length: 17 }, () => ({ pressed: false, touched: false, value: 0 })),
  };
  Object.defineProperty(Navigator.prototype, 'getGamepads', {
    configurable: true, value: () => (pad.connected ? [pad, null, null, null] : [null, null, null, null]),
  });
  window.q47Pad = {
    plug() {
      pad.connected = true;
      pad.timestamp += 1;
      const event = new Event('gamepadconnected');
      event.gamepad = pad;
      window.dispatchEvent(event);
    },
    set(index, down) {
      pad.buttons[index] = { pressed: down, touched: down, value: down ? 1 : 0 };
      pad.timestamp += 1;
    },
  };
}

// Opens the game's page with the given query and waits for q47Ready (the intro's first frame).
export async function openGame(page, origin, query, viewport) {
  if (viewport) await page.setViewport({ deviceScaleFactor: 1, hasTouch: true, ...viewport });
  await page.goto(`${origin}/index.html${query ? `?${query}` : ''}`);
  await waitReady(page);
  return page;
}

// The page loads the game at a player's first sign; q47Load() stands for it here.
export async function waitReady(page, timeout = 60000) {
  // A boolean: a predicate's promise would be awaited, and q47Ready resolves to nothing.
  await page.waitForFunction(() => window.q47Ready !== undefined, { timeout });
  await page.evaluate(() => {
    window.q47Load();
    return window.q47Ready;
  });
}

// The text the page put into #output, once there is some.
export async function outputLine(page, timeout = 120000) {
  const handle = await page.waitForFunction(
    () => document.querySelector('#output')?.textContent.trim() || null, { timeout });
  return handle.jsonValue();
}

// The canvas's own pixels, RGBA, as the game drew them: read back from its 2D context, or
// copied through one when the game draws with WebGL.
export function canvasPixels(page) {
  return page.evaluate(() => {
    const canvas = document.querySelector('canvas');
    let context = canvas.getContext('2d');
    if (!context) {
      const copy = document.createElement('canvas');
      copy.width = canvas.width;
      copy.height = canvas.height;
      context = copy.getContext('2d');
      context.drawImage(canvas, 0, 0);
    }
    const { data } = context.getImageData(0, 0, canvas.width, canvas.height);
    let text = '';
    for (let i = 0; i < data.length; i += 0x8000) {
      text += String.fromCharCode(...data.subarray(i, i + 0x8000));
    }
    return { width: canvas.width, height: canvas.height, rgba: btoa(text) };
  }).then((r) => ({ ...r, rgba: Buffer.from(r.rgba, 'base64') }));
}

// Reads the RGBA PNG the native game writes: 8 bits per sample, colour type 6, no interlace,
// filter type 0 on every row (what our own encoder writes; anything else is refused, not
// misread).
export function readPng(bytes) {
  if (bytes.readUInt32BE(0) !== 0x89504e47) throw new Error('not a PNG');
  let offset = 8, width = 0, height = 0;
  const idat = [];
  while (offset < bytes.length) {
    const length = bytes.readUInt32BE(offset);
    const type = bytes.toString('latin1', offset + 4, offset + 8);
    const data = bytes.subarray(offset + 8, offset + 8 + length);
    if (type === 'IHDR') {
      width = data.readUInt32BE(0);
      height = data.readUInt32BE(4);
      if (data[8] !== 8 || data[9] !== 6 || data[12] !== 0) throw new Error('not 8-bit RGBA');
    } else if (type === 'IDAT') {
      idat.push(data);
    } else if (type === 'IEND') {
      break;
    }
    offset += 12 + length;
  }
  const raw = zlib.inflateSync(Buffer.concat(idat));
  const stride = width * 4;
  const rgba = Buffer.alloc(stride * height);
  for (let y = 0; y < height; y++) {
    const filter = raw[y * (stride + 1)];
    if (filter !== 0) throw new Error(`row ${y} has filter type ${filter}`);
    raw.copy(rgba, y * stride, y * (stride + 1) + 1, (y + 1) * (stride + 1));
  }
  return { width, height, rgba };
}
