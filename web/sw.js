// Keeps the whole site in the browser's cache on the first visit, so the game plays without a
// network afterwards. The build writes in the file list and a hash of the files' contents; a
// new build is a new cache, and the old one is dropped once the new worker takes over.
'use strict';

const CACHE = 'q47-@SITE_HASH@';
const FILES = @SITE_FILES@;

self.addEventListener('install', (event) => {
  // cache: 'no-cache' asks the server whether the browser's own copy of each file is still
  // current (a 304 sends no body): the page's files, loaded a moment before, do not cross the
  // network twice, and a copy left from an older build is never kept as this build's.
  // A first visit's worker takes over at once; a new version waits for the page's Reload, so a
  // page running the old version is never served a mix of the two builds' files.
  event.waitUntil(caches.open(CACHE)
    .then((cache) => cache.addAll(FILES.map((file) => new Request(file, { cache: 'no-cache' }))))
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
// another page; the folder's address is its index.html); anything else, such as a replay named
// by ?play=, from the network.
self.addEventListener('fetch', (event) => {
  const request = event.request;
  const url = new URL(request.url);
  if (request.method !== 'GET' || url.origin !== self.location.origin) return;
  const folder = request.mode === 'navigate' && url.pathname.endsWith('/');
  event.respondWith(caches.open(CACHE)
    .then((cache) => (folder ? cache.match('index.html') : cache.match(request, { ignoreSearch: true })))
    .then((kept) => kept || fetch(request)));
});
