// Keeps the whole site in the browser's cache on the first visit, so the game plays without a
// network afterwards. The build writes in the file list and a hash of the files' contents; a
// new build is a new cache, and the old one is dropped once the new worker takes over.
'use strict';

const CACHE = 'q47-@SITE_HASH@';
const FILES = @SITE_FILES@;

self.addEventListener('install', (event) => {
  // cache: 'reload' skips the browser's HTTP cache, so the stored copy is this build's own.
  // A first visit's worker takes over at once; a new version waits for the page's Reload, so a
  // page running the old version is never served a mix of the two builds' files.
  event.waitUntil(caches.open(CACHE)
    .then((cache) => cache.addAll(FILES.map((file) => new Request(file, { cache: 'reload' }))))
    .then(() => self.registration.active || self.skipWaiting()));
});

self.addEventListener('message', (event) => {
  if (event.data === 'take-over') self.skipWaiting();
});

self.addEventListener('activate', (event) => {
  event.waitUntil(caches.keys()
    .then((names) => Promise.all(names
      .filter((name) => name.startsWith('q47-') && name !== CACHE)
      .map((name) => caches.delete(name))))
    .then(() => self.clients.claim()));
});

// The site's own files come from the cache (a link's query, as in ?level=3, does not make
// another page); anything else, such as a replay named by ?play=, from the network.
self.addEventListener('fetch', (event) => {
  const request = event.request;
  if (request.method !== 'GET' || new URL(request.url).origin !== self.location.origin) return;
  event.respondWith(caches.open(CACHE)
    .then((cache) => cache.match(request, { ignoreSearch: true }))
    .then((kept) => kept || fetch(request)));
});
