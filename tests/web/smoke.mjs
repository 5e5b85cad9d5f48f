// Loads the smoke program built by `web/build-deps --smoke` in Debian's
// chromium and checks what it drew, pixel for pixel.
//   node smoke.mjs [dir-with-smoke.html]
import http from 'node:http';
import { readFile } from 'node:fs/promises';
import path from 'node:path';
import { fileURLToPath } from 'node:url';
import puppeteer from 'puppeteer-core';

const here = path.dirname(fileURLToPath(import.meta.url));
const dir = path.resolve(process.argv[2] ?? path.join(here, '../../build-web/smoke'));
const types = { '.html': 'text/html', '.js': 'text/javascript', '.wasm': 'application/wasm' };

// A file server of our own on loopback: wasm must come over http with its
// MIME type for streaming compilation, and file:// pages cannot fetch at all.
const server = http.createServer(async (req, res) => {
  const file = path.join(dir, path.normalize(new URL(req.url, 'http://h').pathname));
  try {
    if (!file.startsWith(dir + path.sep)) throw new Error('outside');
    const body = await readFile(file);
    res.writeHead(200, { 'content-type': types[path.extname(file)] ?? 'application/octet-stream' });
    res.end(body);
  } catch {
    res.writeHead(404).end();
  }
});
await new Promise((ok) => server.listen(0, '127.0.0.1', ok));

const browser = await puppeteer.launch({
  executablePath: process.env.CHROMIUM ?? '/usr/bin/chromium',
  headless: true,
  args: ['--no-sandbox'],
});
const results = [];
const check = (name, ok, detail) => {
  results.push(ok);
  console.log(`${ok ? 'ok  ' : 'FAIL'} ${name}${detail ? `: ${detail}` : ''}`);
};
try {
  const page = await browser.newPage();
  const errors = [];
  page.on('pageerror', (e) => errors.push(String(e)));
  await page.goto(`http://127.0.0.1:${server.address().port}/smoke.html`);
  await page.waitForFunction(() => window.smokeResult || null, { timeout: 30000 });
  const r = await page.evaluate(() => {
    const canvas = document.getElementById('canvas');
    const { width, height, patternRows } = window.smokeResult;
    const px = canvas.getContext('2d').getImageData(0, 0, width, height).data;
    let wrong = 0, lit = 0;
    for (let y = 0; y < height; y++) {
      for (let x = 0; x < width; x++) {
        const i = (y * width + x) * 4;
        if (y < patternRows) {
          wrong += px[i] !== (x & 255) || px[i + 1] !== (y & 255) ||
                   px[i + 2] !== ((x ^ y) & 255) || px[i + 3] !== 255;
        } else {
          lit += px[i] > 128;
        }
      }
    }
    return { ...window.smokeResult, canvas: [canvas.width, canvas.height], wrong, lit };
  });
  check('no page errors', errors.length === 0, errors.join('; '));
  check('canvas size', r.canvas[0] === r.width && r.canvas[1] === r.height, r.canvas.join('x'));
  check('pattern pixels exact', r.wrong === 0, `${r.wrong} of ${r.width * r.patternRows} differ`);
  // Blending and antialiasing make the count approximate, not the presence.
  check('text drawn', r.lit > r.textPixels / 2, `${r.lit} lit, ${r.textPixels} inked by SDL_ttf`);
  check('vorbis round trip', r.vorbis);
  check('audio device opened', r.audio);
} finally {
  await browser.close();
  server.close();
}
const failed = results.filter((ok) => !ok).length;
console.log(`${results.length - failed} passed, ${failed} failed`);
process.exitCode = failed ? 1 : 0;
