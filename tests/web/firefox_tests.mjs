// The browser tests' golden runs and pictures in Debian's firefox-esr, driven over WebDriver
// BiDi by the same pinned puppeteer-core: the rules and the picture compiled to WebAssembly must
// come out of a second engine exactly as the native game makes them.
//   node firefox_tests.mjs [Q47] [SITE_DIR]     (as web_tests.mjs; FIREFOX=path for another)
// The other groups (input, touch, sound, offline...) are the page's and run in chromium.
process.env.Q47_WEB_BROWSER = 'firefox';
process.env.Q47_WEB_ONLY ||= 'golden runs,pictures';
await import('./web_tests.mjs');
