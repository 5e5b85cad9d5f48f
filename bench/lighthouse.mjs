// The page's speed on a phone and on a desktop as Lighthouse scores it, in Debian's chromium, run
// by hand (not by ctest):
//   node bench/lighthouse.mjs [SITE_DIR | URL] [RUNS]   (defaults: build-web/site, 3 runs)
// Lighthouse is pinned in bench/lighthouse (npm ci there first); a SITE_DIR is served on
// loopback by the browser tests' server (npm ci in tests/web), a URL (such as the one ./run web
// serves) is scored as it is. Each preset is run RUNS times in a fresh browser (no cache, no
// service worker), and the median of each figure is printed beside its target:
//   performance: mobile >= 85, desktop >= 95; accessibility and best practices: 100 both;
//   mobile time to interactive <= 5 s.
import path from 'node:path';
import { existsSync } from 'node:fs';
import { createRequire } from 'node:module';
import { fileURLToPath } from 'node:url';

const HERE = path.dirname(fileURLToPath(import.meta.url));
const ROOT = path.resolve(HERE, '..');
const CHROMIUM = process.env.CHROME_PATH ?? process.env.CHROMIUM ?? '/usr/bin/chromium';
const FLAGS = ['--headless', '--no-sandbox', '--disable-gpu'];

const target = process.argv[2] ?? path.join(ROOT, 'build-web/site');
const runs = Number(process.argv[3] ?? 3);
const fail = (text) => {
  console.error(`lighthouse: ${text}`);
  process.exit(1);
};
if (!Number.isInteger(runs) || runs < 1) {
  fail(`runs must be a whole number from 1: ${process.argv[3]}`);
}
if (!existsSync(CHROMIUM)) fail(`no chromium at ${CHROMIUM} (Debian package chromium)`);
// Lighthouse and its launcher come from bench/lighthouse's own lock, not from the tests'.
const local = createRequire(path.join(HERE, 'lighthouse/package.json'));
let lighthouse, launcher, desktopConfig;
try {
  lighthouse = (await import(local.resolve('lighthouse'))).default;
  launcher = await import(local.resolve('chrome-launcher'));
  desktopConfig = (await import(local.resolve('lighthouse/core/config/desktop-config.js'))).default;
} catch (error) {
  fail(`Lighthouse is not installed: run npm ci in bench/lighthouse (${error.message})`);
}

let server = null;
let url = target;
if (!/^https?:/.test(target)) {
  if (!existsSync(path.join(target, 'index.html'))) fail(`no built site in ${target} (web/build)`);
  const { serve } = await import('../tests/web/harness.mjs');
  server = await serve({ '/': target });
  url = `${server.origin}/`;
}

const median = (values) => {
  const sorted = [...values].sort((a, b) => a - b);
  const middle = Math.floor(sorted.length / 2);
  return sorted.length % 2 ? sorted[middle] : (sorted[middle - 1] + sorted[middle]) / 2;
};

// One preset's figures, each run in a browser of its own.
async function score(preset) {
  const figures = [];
  for (let i = 0; i < runs; i++) {
    const chrome = await launcher.launch({ chromePath: CHROMIUM, chromeFlags: FLAGS });
    try {
      const options = { port: chrome.port, output: 'json', logLevel: 'error',
        onlyCategories: ['performance', 'accessibility', 'best-practices'] };
      const config = preset === 'desktop' ? desktopConfig : undefined;
      const { lhr } = await lighthouse(url, options, config);
      if (lhr.runtimeError) throw new Error(`${preset}: ${lhr.runtimeError.message}`);
      const category = (name) => Math.round((lhr.categories[name].score ?? 0) * 100);
      const ms = (audit) => lhr.audits[audit]?.numericValue ?? NaN;
      figures.push({
        performance: category('performance'),
        accessibility: category('accessibility'),
        bestPractices: category('best-practices'),
        fcp: ms('first-contentful-paint'),
        lcp: ms('largest-contentful-paint'),
        tbt: ms('total-blocking-time'),
        tti: ms('interactive'),
        cls: lhr.audits['cumulative-layout-shift']?.numericValue ?? NaN,
        // What pulled a category below 100, to fix rather than guess.
        below: Object.values(lhr.categories).flatMap((c) => c.id === 'performance' ? [] :
          c.auditRefs.filter((r) => r.weight > 0 && lhr.audits[r.id].score !== null &&
            lhr.audits[r.id].score < 1).map((r) => `${c.id}: ${r.id}`)),
      });
    } finally {
      await chrome.kill();
    }
  }
  const m = (key) => median(figures.map((f) => f[key]));
  return { performance: m('performance'), accessibility: m('accessibility'),
    bestPractices: m('bestPractices'), fcp: m('fcp'), lcp: m('lcp'), tbt: m('tbt'),
    tti: m('tti'), cls: m('cls'), each: figures.map((f) => f.performance),
    below: [...new Set(figures.flatMap((f) => f.below))] };
}

const mark = (ok) => (ok ? 'meets' : 'MISSES');
const s = (ms) => `${(ms / 1000).toFixed(1)} s`;
let missed = 0;
try {
  console.log(`Lighthouse on ${url}, median of ${runs} run${runs > 1 ? 's' : ''} per preset`);
  for (const [preset, least] of [['mobile', 85], ['desktop', 95]]) {
    const f = await score(preset);
    const ok = { performance: f.performance >= least, accessibility: f.accessibility === 100,
      bestPractices: f.bestPractices === 100, tti: preset !== 'mobile' || f.tti <= 5000 };
    missed += Object.values(ok).filter((v) => !v).length;
    console.log(`${preset}: performance ${f.performance} (runs ${f.each.join(', ')}; target >= ` +
      `${least}: ${mark(ok.performance)}), accessibility ${f.accessibility} ` +
      `(${mark(ok.accessibility)}), best practices ${f.bestPractices} (${mark(ok.bestPractices)})`);
    console.log(`${preset}: first contentful paint ${s(f.fcp)}, largest contentful paint ` +
      `${s(f.lcp)}, total blocking time ${f.tbt.toFixed(0)} ms, layout shift ` +
      `${f.cls.toFixed(3)}, time to interactive ${s(f.tti)}` +
      (preset === 'mobile' ? ` (target <= 5 s: ${mark(ok.tti)})` : ''));
    for (const line of f.below) console.log(`${preset}: below full marks: ${line}`);
  }
} finally {
  await server?.close();
}
process.exit(missed ? 1 : 0);
